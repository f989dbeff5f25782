#!/usr/bin/env python3
"""Fills every keycode of a keymap dumped by `xkbcomp -xkb` with a symbol, so that no spare
keycode is left: the state in which a character missing from the layout cannot be typed.
Usage: full_keymap.py IN.xkb OUT.xkb"""
import re
import sys

text = open(sys.argv[1]).read()
keycodes_start = text.index("xkb_keycodes")
keycodes_end = text.index("};", keycodes_start)
names = {int(code): name for name, code in re.findall(r"<([^>]+)>\s*=\s*(\d+);", text[keycodes_start:keycodes_end])}
added_names = "".join("    <Z%d> = %d;\n" % (code, code) for code in range(8, 256) if code not in names)
for code in range(8, 256):
    names.setdefault(code, "Z%d" % code)
text = text[:keycodes_end] + added_names + text[keycodes_end:]

symbols_start = text.index("xkb_symbols")
following = text.find("xkb_geometry", symbols_start)
symbols_end = text.rindex("};", symbols_start, following if following > 0 else len(text))
with_symbols = set(re.findall(r"key\s+<([^>]+)>", text[symbols_start:symbols_end]))
aliases = dict(re.findall(r"alias\s+<([^>]+)>\s*=\s*<([^>]+)>;", text))
with_symbols |= {aliases[a] for a in list(with_symbols) if a in aliases}
filler = "".join("    key <%s> { [ F35 ] };\n" % name for name in names.values() if name not in with_symbols)
text = text[:symbols_end] + filler + text[symbols_end:]
open(sys.argv[2], "w").write(text)
