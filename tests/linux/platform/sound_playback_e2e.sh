#!/usr/bin/env bash
# Real playback on the PulseAudio null sink of tests/linux/headless.sh: WAV files of every PCM kind
# reach the sound server as a playing stream; a missing file and a text file play nothing.
# Usage: sound_playback_e2e.sh PATH/TO/play_sound
set -euo pipefail
player=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! pactl info >/dev/null 2>&1; then
  echo "no PulseAudio server on this desktop: run under tests/linux/headless.sh" >&2
  exit 1
fi

python3 - "$work" <<'PY'
import math, struct, sys, os
out = sys.argv[1]
rate, seconds = 22050, 1.2
def write(name, fmt, bits, pack):
    n = int(rate * seconds)
    data = b"".join(pack(0.4 * math.sin(2 * math.pi * 440 * i / rate)) for i in range(n))
    block = bits // 8
    chunk = struct.pack("<HHIIHH", fmt, 1, rate, rate * block, block, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(chunk)) + chunk + b"data" + struct.pack("<I", len(data)) + data
    open(os.path.join(out, name), "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
write("u8.wav", 1, 8, lambda v: struct.pack("<B", int(128 + 127 * v)))
write("s16.wav", 1, 16, lambda v: struct.pack("<h", int(32767 * v)))
write("s24.wav", 1, 24, lambda v: struct.pack("<i", int(8388607 * v))[:3])
write("s32.wav", 1, 32, lambda v: struct.pack("<i", int(2147483647 * v)))
write("f32.wav", 3, 32, lambda v: struct.pack("<f", v))
open(os.path.join(out, "not-a-sound.wav"), "w").write("hello")
PY

# Counts the streams playing into the server while the player runs.
streams_during() {
  "$player" "$1" 1500 &
  local pid=$! seen=0
  for _ in $(seq 12); do
    sleep 0.1
    n=$(pactl list sink-inputs short | wc -l)
    [ "$n" -gt "$seen" ] && seen=$n
  done
  wait "$pid"
  echo "$seen"
}

failed=0
for kind in u8 s16 s24 s32 f32; do
  n=$(streams_during "$work/$kind.wav")
  if [ "$n" -lt 1 ]; then echo "FAIL: $kind.wav did not play"; failed=1; else echo "ok: $kind.wav plays"; fi
done
for silent in "$work/missing.wav" "$work/not-a-sound.wav"; do
  n=$(streams_during "$silent")
  if [ "$n" -ne 0 ]; then echo "FAIL: $(basename "$silent") opened a stream"; failed=1; else echo "ok: $(basename "$silent") is silent"; fi
done
# A sound name that is not a regular file (a setting or a DDE-loaded configuration may name
# anything): the call returns at once, without waiting for a pipe's writer or reading an
# endless device, and plays nothing.
mkfifo "$work/pipe.wav"
mkdir "$work/folder.wav"
for odd in "$work/pipe.wav" /dev/zero "$work/folder.wav"; do
  if ! timeout 20 "$player" "$odd" 200; then
    echo "FAIL: $odd held the player (it did not end on its own)"
    failed=1
  else
    echo "ok: $odd is silent and does not hold the program"
  fi
done
exit $failed
