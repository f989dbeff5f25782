#!/usr/bin/env python3
"""A stand-in instrument that records what Kelvor puts on the line.

Opens a pseudo-terminal, links LINK to it, appends every byte it receives to OUT, and
answers each line (ending in CR) with the frame ANSWER followed by CR, so that the
reception has something to clear. Runs until killed; removes the link then.
Usage: line_recorder.py LINK OUT [ANSWER]
"""
import os
import pty
import select
import signal
import sys
import tty

link, out = sys.argv[1], sys.argv[2]
answer = sys.argv[3].encode() if len(sys.argv) > 3 else b""

master, slave = pty.openpty()
tty.setraw(slave)
if os.path.lexists(link):
    os.unlink(link)
os.symlink(os.ttyname(slave), link)


def stop(*_):
    if os.path.islink(link):
        os.unlink(link)
    sys.exit(0)


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)

with open(out, "ab", buffering=0) as record:
    while True:
        ready, _, _ = select.select([master], [], [], 0.2)
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            continue
        record.write(data)
        if answer:
            for _ in range(data.count(b"\r")):
                os.write(master, answer + b"\r")
