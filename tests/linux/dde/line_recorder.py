#!/usr/bin/env python3
"""A stand-in instrument that records what Kelvor puts on the line.

Opens a pseudo-terminal, links LINK to it, appends every byte it receives to OUT, and
answers each line (ending in CR) with the frame ANSWER followed by CR, so that the
reception has something to clear. With FEED, a named pipe it makes, whatever is written
to the pipe goes on the line at once, as readings the instrument sends of its own accord.
Runs until killed; removes the link then.
Usage: line_recorder.py LINK OUT [ANSWER [FEED]]
"""
import os
import pty
import select
import signal
import sys
import tty

link, out = sys.argv[1], sys.argv[2]
answer = sys.argv[3].encode() if len(sys.argv) > 3 else b""
feed = None
if len(sys.argv) > 4:
    if not os.path.exists(sys.argv[4]):
        os.mkfifo(sys.argv[4])
    # Opened for writing too, so that the pipe never reads as ended between two writers.
    feed = os.open(sys.argv[4], os.O_RDWR | os.O_NONBLOCK)

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
        ready, _, _ = select.select([master] + ([feed] if feed is not None else []), [], [], 0.2)
        if feed in ready:
            os.write(master, os.read(feed, 4096))
        if master not in ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            continue
        record.write(data)
        if answer:
            for _ in range(data.count(b"\r")):
                os.write(master, answer + b"\r")
