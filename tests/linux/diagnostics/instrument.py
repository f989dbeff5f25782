#!/usr/bin/env python3
"""A scripted instrument on a pseudo-terminal for the windows' end-to-end test.

instrument.py LINK: makes LINK a symbolic link to the slave side, then, whenever a file
LINK.send appears, writes its bytes to the line at once and removes the file. Stops on
SIGTERM.
"""
import os
import pty
import signal
import sys
import time

link = sys.argv[1]
master, slave = pty.openpty()
if os.path.lexists(link):
    os.remove(link)
os.symlink(os.ttyname(slave), link)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
os.set_blocking(master, False)
request = link + ".send"
try:
    while True:
        if os.path.exists(request):
            with open(request, "rb") as f:
                data = f.read()
            os.remove(request)
            os.write(master, data)
        try:
            os.read(master, 4096)  # what Kelvor sends is not needed; keep the line drained
        except (BlockingIOError, OSError):
            pass
        time.sleep(0.02)
finally:
    if os.path.islink(link):
        os.remove(link)
