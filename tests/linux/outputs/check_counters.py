#!/usr/bin/env python3
"""Checks that every reading of kelvor-sim's counter format arrived, clean.

check_counters.py LEAST FILE...: the frame column of reading-log CSV files, read in order.
check_counters.py LEAST --lines FILE: one value a line (kelvor-dde advise Readings; the
value's blank padding and CR line ends are ignored).
Either must be an unbroken run "0000000 g", "0000001 g", ... of at least LEAST readings, each
exactly as sent (no line feed or other byte in front, no empty line), starting at any
number. Prints what differs and exits 1 on a fault.
"""
import csv
import re
import sys

least, args = int(sys.argv[1]), sys.argv[2:]
frames = []
if args[0] == "--lines":
    with open(args[1], "rb") as f:
        text = f.read().decode("utf-8", "replace").replace("\r", "")
    frames = [line.rstrip(" ") for line in text.split("\n")[:-1]]
else:
    for path in args:
        with open(path, newline="", encoding="utf-8") as f:
            frames += [row[4] for row in list(csv.reader(f))[1:]]
faults = [repr(f) for f in frames if not re.fullmatch(r"\d{7} g", f)]
numbers = [int(f[:7]) for f in frames if re.fullmatch(r"\d{7} g", f)]
gaps = [(a, b) for a, b in zip(numbers, numbers[1:]) if b != a + 1]
if faults or gaps or len(numbers) < least:
    print("readings: %d (at least %d expected); spoiled: %s; gaps after: %s"
          % (len(numbers), least, faults[:5], gaps[:5]))
    sys.exit(1)
print("ok: %d readings, none lost, none spoiled" % len(numbers))
