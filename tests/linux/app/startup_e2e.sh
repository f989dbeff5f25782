#!/usr/bin/env bash
# The spine end to end, on a real X server with a window manager: first start in an empty
# folder, the language dialog, the remembered position, top-most and the Top menu item; a
# second start in the same folder shows the running strip and ends.
# Usage: startup_e2e.sh PATH/TO/kelvor
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
kelvor=$(readlink -f "$1")

e2e_scratch pid

start() {
  "$kelvor" >"$work/kelvor.log" 2>&1 &
  pid=$!
  e2e_close_splash
}

above() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }

# First start: no KELVOR.INI. The language dialog proposes english.lan; cancelling it
# writes no FILENAME.
start
dialog=$(e2e_wait_window '^\[SELECTLANGFILE\]$')
main=$(e2e_wait_window '^NORDAL - Kelvor$')
xdotool windowactivate --sync "$dialog" key --clearmodifiers Escape
e2e_wait_gone '^\[SELECTLANGFILE\]$'
sleep 0.5
[ "$(e2e_ini KELVOR.INI SCREEN PosX)" = 0 ] || e2e_fail "PosX is not 0 at the first start"
[ "$(e2e_ini KELVOR.INI SCREEN PosY)" = 0 ] || e2e_fail "PosY is not 0 at the first start"
grep -qi FILENAME KELVOR.INI && e2e_fail "a cancelled language dialog wrote FILENAME"
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$WIDTH" = 254 ] && [ "$HEIGHT" = 52 ] || e2e_fail "the strip is ${WIDTH}x$HEIGHT, not 254x52"
above "$main" || e2e_fail "the strip is not top-most after start-up"

# The Top item: unchecked, the strip leaves the top-most band; chosen again, it returns.
e2e_menu_item "$main" 1
sleep 0.5
above "$main" && e2e_fail "choosing Top did not take the strip out of the top-most band"
e2e_menu_item "$main" 1
sleep 0.5
above "$main" || e2e_fail "choosing Top again did not make the strip top-most"

# Moving the window writes the position at once; a killed program starts there again.
xdotool windowmove "$main" 300 200
sleep 1
x=$(e2e_ini KELVOR.INI SCREEN PosX)
y=$(e2e_ini KELVOR.INI SCREEN PosY)
[ "$x" -gt 200 ] && [ "$y" -gt 100 ] || e2e_fail "the move was not written (PosX=$x PosY=$y)"
eval "$(xdotool getwindowgeometry --shell "$main")"
before="$X,$Y"
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
pid=""
start
dialog=$(e2e_wait_window '^\[SELECTLANGFILE\]$')
xdotool windowactivate --sync "$dialog" key --clearmodifiers Escape
main=$(e2e_wait_window '^NORDAL - Kelvor$')
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$X,$Y" = "$before" ] || e2e_fail "the strip opened at $X,$Y instead of $before"
[ "$(e2e_ini KELVOR.INI SCREEN PosX)" = "$x" ] || e2e_fail "the position crept at the restart"

# Started again in the same folder (a second click on the launcher): the minimised strip
# comes back to the front, and the second program ends without a window of its own.
xdotool windowminimize --sync "$main"
rc=0
timeout 20 "$kelvor" >second.log 2>&1 || rc=$?
[ "$rc" = 0 ] || e2e_fail "the second start in the same folder ended with $rc: $(cat second.log)"
e2e_wait_window '^NORDAL - Kelvor$' 5 >/dev/null || e2e_fail "the running strip was not brought to the front"
[ "$(xdotool search --onlyvisible --name '^NORDAL - Kelvor$' | wc -l)" = 1 ] || e2e_fail "two strips after a second start"
kill -0 "$pid" 2>/dev/null || e2e_fail "the running program ended at a second start"

# Killed in the middle of a burst of moves, Kelvor leaves KELVOR.INI whole: the position from
# before or both corners from the same move of the burst (each goes along the diagonal, so
# PosX - PosY is what it was for the move to 300,200, less 100), every other line as it was.
printf '[USER]\nkeep=yes\n' >>KELVOR.INI
(for i in $(seq 60); do xdotool windowmove "$main" $((100 + i * 7)) $((100 + i * 7)) 2>/dev/null || break; done) &
mover=$!
sleep "0.$((RANDOM % 9 + 1))"
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
wait "$mover" 2>/dev/null || true
pid=""
moved_x=$(e2e_ini KELVOR.INI SCREEN PosX)
moved_y=$(e2e_ini KELVOR.INI SCREEN PosY)
[[ "$moved_x" =~ ^-?[0-9]+$ && "$moved_y" =~ ^-?[0-9]+$ ]] &&
  { [ "$moved_x,$moved_y" = "$x,$y" ] || [ $((moved_x - moved_y)) = $((x - y - 100)) ]; } ||
  e2e_fail "a kill during moves left the position $moved_x,$moved_y (the move to 300,200 wrote $x,$y)"
[ "$(e2e_ini KELVOR.INI USER keep)" = yes ] || e2e_fail "a kill during moves lost a line: $(cat KELVOR.INI)"
ls ./*.kelvor-tmp 2>/dev/null | grep -qv '^./KELVOR.INI.kelvor-tmp$' && e2e_fail "stray temporary files: $(ls)"
start
dialog=$(e2e_wait_window '^\[SELECTLANGFILE\]$')
xdotool windowactivate --sync "$dialog" key --clearmodifiers Escape
main=$(e2e_wait_window '^NORDAL - Kelvor$')

# Closing the strip ends the program.
wmctrl -ic "$main"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && e2e_fail "the program did not end when its window closed"
pid=""
# A damaged KELVOR.INI: binary bytes, a 512 KiB line, a duplicate section, a configuration
# file that is itself binary, no final newline. The program starts where the first [SCREEN]
# says, and a move rewrites only the two position lines.
rm -f KELVOR.INI
head -c 4096 /dev/urandom | tr -d '\n[' > junk.KLV
python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
random.seed(7)
junk = bytes(random.randrange(256) for _ in range(2048)).replace(b"\n", b"").replace(b"[", b"")
with open(os.path.join(work, "KELVOR.INI"), "wb") as f:
    f.write(junk + b"\n[SCREEN]\nPosX=40\nPosY=30\n[HUGE]\nline=" + b"x" * (512 * 1024) +
            b"\n[screen]\nPosX=999\n[FILECONFIG]\nRS232=" + os.path.join(work, "junk.KLV").encode() +
            b"\n[TRANSLATE]\nFILENAME=" + os.path.join(work, "missing.lan").encode())
PY
size_before=$(stat -c %s KELVOR.INI)
start
main=$(e2e_wait_window '^NORDAL - Kelvor$' 60)
sleep 1
xdotool search --onlyvisible --name '^\[SELECTLANGFILE\]$' >/dev/null 2>&1 && e2e_fail "a named language file still opened the dialog"
xdotool windowmove "$main" 120 90
for _ in $(seq 150); do
  [ "$(e2e_ini KELVOR.INI SCREEN PosX)" != 40 ] && [ "$(e2e_ini KELVOR.INI SCREEN PosY)" != 30 ] && break
  sleep 0.2
done
kill -0 "$pid" 2>/dev/null || e2e_fail "the program ended with a damaged KELVOR.INI"
size_after=$(stat -c %s KELVOR.INI)
[ $((size_after - size_before)) -lt 10 ] && [ $((size_before - size_after)) -lt 10 ] ||
  e2e_fail "rewriting the position changed the file's size from $size_before to $size_after"
[ "$(e2e_ini KELVOR.INI SCREEN PosX)" != 40 ] && [ "$(e2e_ini KELVOR.INI SCREEN PosY)" != 30 ] ||
  e2e_fail "the move was not written into the first [SCREEN]"
grep -q '^PosX=999$' KELVOR.INI || e2e_fail "the duplicate section was changed"
tail -c 30 KELVOR.INI | grep -q 'missing.lan$' || e2e_fail "the last line lost its place or gained a newline"
wmctrl -ic "$main"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
pid=""

# A KELVOR.INI of 100 MB is no settings file Kelvor wrote: it says so once, naming it, reads
# it as empty (so it asks for a language file again) and leaves it as it is, without freezing.
python3 -c 'import sys; open("KELVOR.INI", "wb").write(b"[SCREEN]\nPosX=40\nPosY=30\n[HUGE]\nline=" + b"x" * (100 << 20) + b"\n")'
sum_before=$(md5sum <KELVOR.INI)
start
notice=$(e2e_wait_window '^Kelvor$' 30) || e2e_fail "no notice about a 100 MB KELVOR.INI"
dialog=$(e2e_wait_window '^\[SELECTLANGFILE\]$') || e2e_fail "an unreadable KELVOR.INI named a language file"
grep -q "KELVOR.INI holds 104.9 MB" kelvor.log || e2e_fail "the notice did not name the file: $(cat kelvor.log)"
xdotool windowactivate --sync "$dialog" key --clearmodifiers Escape
e2e_wait_gone '^\[SELECTLANGFILE\]$' 10 || e2e_fail "the language dialog did not close"
wmctrl -ic "$notice"
e2e_wait_gone '^Kelvor$' 10 || e2e_fail "the notice did not close"
main=$(e2e_wait_window '^NORDAL - Kelvor$')
xdotool windowmove "$main" 150 100
sleep 1
kill -0 "$pid" 2>/dev/null || e2e_fail "the program ended with a 100 MB KELVOR.INI"
[ "$(md5sum <KELVOR.INI)" = "$sum_before" ] || e2e_fail "the 100 MB KELVOR.INI was rewritten"
[ "$(grep -c 'KELVOR.INI holds' kelvor.log)" = 1 ] || e2e_fail "the notice came more than once"
wmctrl -ic "$main"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && e2e_fail "the program did not end when its window closed"
pid=""

echo "startup end-to-end: all checks passed"
