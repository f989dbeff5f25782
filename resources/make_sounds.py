#!/usr/bin/env python3
"""Synthesises the three built-in sounds (16-bit PCM mono WAV, 44.1 kHz). The results are
committed; run this again only to change how they sound."""
import math
import os
import struct
import wave

RATE = 44100
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sound")


def tone(freq, seconds, volume=0.35, attack=0.005, decay=6.0):
    samples = []
    for i in range(int(RATE * seconds)):
        t = i / RATE
        envelope = min(1.0, t / attack) * math.exp(-decay * t)
        # A little of the octave makes the tone rounder than a bare sine.
        value = math.sin(2 * math.pi * freq * t) + 0.25 * math.sin(4 * math.pi * freq * t)
        samples.append(volume * envelope * value / 1.25)
    return samples


def write(name, samples):
    with wave.open(os.path.join(HERE, name), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", int(max(-1, min(1, s)) * 32767)) for s in samples))


def mix(*parts):
    length = max(offset + len(s) for offset, s in parts)
    out = [0.0] * length
    for offset, s in parts:
        for i, v in enumerate(s):
            out[offset + i] += v
    return out


os.makedirs(HERE, exist_ok=True)
# A soft two-note chime for messages.
write("info.wav", mix((0, tone(880, 0.35)), (int(0.12 * RATE), tone(1318.5, 0.45))))
# A short, quiet click for buttons.
write("touch.wav", tone(2200, 0.03, volume=0.3, attack=0.001, decay=150.0))
# A rising arpeggio for the splash.
write("start.wav", mix(*[(int(k * 0.11 * RATE), tone(f, 0.5, decay=5.0))
                         for k, f in enumerate([523.25, 659.25, 783.99, 1046.5])]))
