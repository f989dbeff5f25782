#!/usr/bin/env bash
# The splash, the view window and the test window end to end: the real program on the
# private desktop and bus of tests/linux/headless.sh, a scripted instrument on a pseudo-terminal,
# kelvor-dde as the DDE client.
# Usage: windows_e2e.sh PATH/TO/kelvor PATH/TO/kelvor-dde
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
kelvor=$(readlink -f "$1")
kdde=$(readlink -f "$2")

e2e_scratch advise pid instrument

e2e_configuration TEST.KLV NAME=WINDOWS
e2e_workspace TEST.KLV "$work/com1"

python3 "$here/instrument.py" "$work/com1" &
instrument=$!
for _ in $(seq 50); do [ -L com1 ] && break; sleep 0.1; done
[ -L com1 ] || e2e_fail "the scripted instrument did not start"
send() { printf "$1" >com1.send.tmp && mv com1.send.tmp com1.send; }
# Whether the instrument's line is held by a program (exclusive opening).
port_busy() {
  ! python3 -c 'import fcntl, os, sys
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)' "$work/com1" 2>/dev/null
}

now() { date +%s.%N; }
splash_id() {
  local id
  for id in $(xdotool search --onlyvisible --class kelvor 2>/dev/null); do
    xdotool getwindowgeometry "$id" 2>/dev/null | grep -q 'Geometry: 788x398' && { echo "$id"; return 0; }
  done
  return 1
}
wait_splash() {
  local id
  for _ in $(seq 200); do id=$(splash_id) && { echo "$id"; return 0; }; sleep 0.05; done
  e2e_fail "no splash appeared"
}
stop_kelvor() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
}

# 1. Without a click the splash closes by itself after about 10 seconds; the strip and the
# DDE server come only after it.
"$kelvor" >kelvor.log 2>&1 &
pid=$!
wait_splash >/dev/null
shown=$(now)
sleep 1
xdotool search --onlyvisible --name '^NORDAL - Kelvor$' >/dev/null 2>&1 && e2e_fail "the strip showed during the splash"
"$kdde" request --timeout 2 >/dev/null 2>&1 && e2e_fail "the DDE server answered during the splash"
while splash_id >/dev/null; do
  awk -v a="$shown" -v b="$(now)" 'BEGIN { exit !(b - a > 15) }' && e2e_fail "the splash stayed longer than 15 s"
  sleep 0.05
done
gone=$(now)
awk -v a="$shown" -v b="$gone" 'BEGIN { d = b - a; exit !(d > 9.5 && d < 11.5) }' ||
  e2e_fail "the splash closed after $(awk -v a="$shown" -v b="$gone" 'BEGIN { print b - a }') s, not about 10"
echo "the splash closed by itself after $(awk -v a="$shown" -v b="$gone" 'BEGIN { printf "%.2f", b - a }') s"
main=$(e2e_wait_window '^NORDAL - Kelvor$' 10)
stop_kelvor

# 2. A click closes it at once.
"$kelvor" >kelvor.log 2>&1 &
pid=$!
splash=$(wait_splash)
shown=$(now)
sleep 0.5
xdotool mousemove --window "$splash" 300 200 click 1
for _ in $(seq 40); do splash_id >/dev/null || break; sleep 0.05; done
splash_id >/dev/null && e2e_fail "a click did not close the splash"
clicked=$(now)
awk -v a="$shown" -v b="$clicked" 'BEGIN { exit !(b - a < 3) }' || e2e_fail "the splash did not close at once on a click"
echo "the splash closed $(awk -v a="$shown" -v b="$clicked" 'BEGIN { printf "%.2f", b - a }') s after it appeared, clicked at 0.5 s"
main=$(e2e_wait_window '^NORDAL - Kelvor$' 10)
sleep 0.5

# 3. The view window takes the port while it is open and gives it back when it closes.
port_busy && e2e_fail "the port is held before any window opened it"
e2e_menu_item "$main" 5
view=$(e2e_wait_window '^View in RS232$' 10)
sleep 0.5
port_busy || e2e_fail "the view window did not open the port"
send 'AB\r'
sleep 1
kill -0 "$pid" 2>/dev/null || e2e_fail "the program ended while the view window read"
xdotool windowactivate --sync "$view" key --clearmodifiers Escape
e2e_wait_gone '^View in RS232$' 10
sleep 0.5
port_busy && e2e_fail "the view window did not close the port"

# 4. A hot link on AutoData receives nothing while the test window cuts frames.
"$kdde" advise >advise.out 2>advise.err &
advise=$!
message=$(e2e_wait_window '^!$' 10) || e2e_fail "no Autodata: message window"
xdotool mousemove --window "$message" 300 120 click 1
e2e_wait_gone '^!$' 10
sleep 2
before=$(wc -l <advise.out)
e2e_menu_item "$main" 6
test=$(e2e_wait_window '^Testing$' 10)
port_busy || e2e_fail "the test window did not open the port"
for reading in '12.5\r7.1\r' '+012.50 mm\r' '3.3\r'; do
  send "$reading"
  sleep 1.2
done
after=$(wc -l <advise.out)
[ "$after" = "$before" ] || e2e_fail "the advise link received $((after - before)) values while the test window ran"
xdotool windowactivate --sync "$test" key --clearmodifiers Escape
e2e_wait_gone '^Testing$' 10
# DDE waits while the modal window is open; now it is served again.
"$kdde" request >request.out || e2e_fail "ManualData could not be requested after the test window"
sleep 2
[ "$(wc -l <advise.out)" = "$before" ] || e2e_fail "frames cut by the test window reached the advise link after it closed"
grep -q '12.5\|7.1\|3.3' request.out && e2e_fail "a frame of the test window reached ManualData"
kill -INT "$advise" 2>/dev/null || true
wait "$advise" 2>/dev/null || true
advise=""

# 5. While reception runs ([RUN] leaves the menu usable), the view window does not open the
# port a second time: a message says why, and reception keeps the port.
"$kdde" execute '[RUN]' || e2e_fail "[RUN] was refused"
sleep 0.5
port_busy || e2e_fail "[RUN] did not open the port"
e2e_menu_item "$main" 5
refusal=$(e2e_wait_window '^View in RS232$' 10)
eval "$(xdotool getwindowgeometry --shell "$refusal")"
[ "$WIDTH" != 396 ] || e2e_fail "the view window opened while reception ran"
xdotool windowactivate --sync "$refusal" key --clearmodifiers Return
e2e_wait_gone '^View in RS232$' 10
send '9.9\r'
sleep 1
[ "$("$kdde" request | sed 's/ *$//')" = 9.9 ] || e2e_fail "reception did not go on after the refusal"
"$kdde" execute '[STOP]' || true

wmctrl -ic "$main"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && e2e_fail "the program did not end when its window closed"
pid=""
echo "windows end-to-end: all checks passed"
