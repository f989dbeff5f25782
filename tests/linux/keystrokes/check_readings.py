#!/usr/bin/env python3
"""Checks what the receiving terminal got from Kelvor's typing of kelvor-sim's readings.

check_readings.py FILE FORM LEAST [UNIT]: FILE must hold an unbroken run of at least LEAST
readings of the simulator (12.5 climbing by 0.05, twenty steps), each typed as FORM says:
"plain" is the unit form "+012.50 UNIT" and Return; "records" are the structured records,
the arrows as the terminal's escape sequences. Prints what differs and exits 1 on a fault.
"""
import sys

path, form, least = sys.argv[1], sys.argv[2], int(sys.argv[3])
unit = sys.argv[4] if len(sys.argv) > 4 else "g"
data = open(path, "rb").read().decode("utf-8", "replace")
R, L = "\x1b[C", "\x1b[D"


def reading(i):
    return 12.5 + 0.05 * (i % 20)


def plain(i):
    return "%+07.2f %s\r" % (reading(i), unit)


def record(i):
    n = "%03d" % (i % 1000)
    if i % 4 == 0:  # measurement: label, value, unit
        value = "%.2f" % reading(i)
        return n + R + "DIA".ljust(15 - len(value)) + R + value + R + "mm\r" + L * 3
    if i % 4 == 1:  # result: the verdict word
        word = {"=": "Good", "-": "Reject", "+": "Rework"}["=-+"[(i // 4) % 3]]
        return n + R + ("  +PART " + str(4700 + i).ljust(8)) + R + word + "\r" + L * 2
    if i % 4 == 2:  # comment: thirty characters from position 5
        return n + R + ("CMT batch %d checked" % (i // 4 + 1)).ljust(30) + "\r" + L
    return ""  # a "*" record types nothing


expect = plain if form == "plain" else record
# Find the first reading typed, then every following one in turn.
for first in range(0, 1000):
    if expect(first) and data.startswith(expect(first)):
        break
else:
    print("%s: no reading at the start of %r" % (form, data[:80]))
    sys.exit(1)
built, i, count = "", first, 0
while len(built) < len(data):
    piece = expect(i)
    if not data.startswith(built + piece):
        print("%s: after %d readings expected %r, got %r"
              % (form, count, piece, data[len(built):len(built) + len(piece) + 10]))
        sys.exit(1)
    built, i, count = built + piece, i + 1, count + bool(piece)
if count < least:
    print("%s: only %d readings arrived" % (form, count))
    sys.exit(1)
print("%s: %d readings arrived exactly" % (form, count))
