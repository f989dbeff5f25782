#!/usr/bin/env bash
# The DDE server end to end: the real program on the private desktop and bus of
# tests/linux/headless.sh, the simulated instrument on a pseudo-terminal, kelvor-dde and gdbus as
# clients. Requests before and after frames, the [WAITRS] hand-shake, a hot link on
# AutoData and one on Readings (every reading), linked cells on ManualData, the commands that
# drive the line and the window (several in one execute string), a reading that is not ASCII,
# and [APPCLOSE].
# Usage: dde_e2e.sh PATH/TO/kelvor PATH/TO/kelvor-dde PATH/TO/kelvor-sim PATH/TO/dde_flood PATH/TO/bus_call
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
kelvor=$(readlink -f "$1")
kdde=$(readlink -f "$2")
ksim=$(readlink -f "$3")
flood=$(readlink -f "$4")
buscall=$(readlink -f "$5")

e2e_scratch advise readings recorder sim pid cells

e2e_configuration TEST.KLV NAME=TEST PORT=0
e2e_configuration Second.Klv NAME=SECOND PORT=1
e2e_workspace TEST.KLV "$work/com1" "$work/com2"

# Prints a requested value between brackets, so that blanks and emptiness show.
value() {
  local out
  out=$("$kdde" "$@"; echo x)
  out=${out%x}
  printf '[%s]' "${out%$'\n'}"
}
# The first value an advise printed to a file, the same way.
value_of() { printf '[%s]' "$(head -1 "$1")"; }
padded() { printf '[%-127s]' "$1"; }
owner() { gdbus call --session -d org.freedesktop.DBus -o / -m org.freedesktop.DBus.NameHasOwner dde.Kelvor | grep -q true; }
above() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }
now() { date +%s%N; }
ms_since() { echo $((($(now) - $1) / 1000000)); }

"$ksim" --link "$work/com1" --format plain --interval 300 --start 10 --step 1 >sim.log 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e com1 ] && break; sleep 0.1; done

# A bench that starts Kelvor unattended turns the splash off in KELVOR.INI: the strip and the
# DDE server are there at once, not ten seconds later.
printf '[STARTUP]\nSPLASH=0\n' >>KELVOR.INI
# In a sanitizer build, freed memory waits in a quarantine of 256 MiB before reuse, which the
# flood's memory bound below would count; a small one keeps that bound meaningful there too.
started=$(now)
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8" "$kelvor" >kelvor.log 2>&1 &
pid=$!
for _ in $(seq 100); do "$kdde" --timeout 1 request >/dev/null 2>&1 && break; sleep 0.05; done
took=$(ms_since "$started")
[ "$took" -lt 2000 ] || e2e_fail "with [STARTUP] SPLASH=0 the first DDE answer came after $took ms"
splash=$( (xdotool search --onlyvisible --class kelvor 2>/dev/null || true) | while read -r id; do
  xdotool getwindowgeometry "$id" 2>/dev/null | grep -q 'Geometry: 788x398' && echo "$id"
done || true)
[ -z "$splash" ] || e2e_fail "a splash showed with SPLASH=0"
main=$(e2e_wait_window '^NORDAL - Kelvor$')
owner || e2e_fail "dde.Kelvor did not appear on the bus"

# Before any frame the value is empty.
[ "$(value request)" = "[]" ] || e2e_fail "request before any frame gave $(value request)"
[ "$(value request ManualData --topic '')" = "[]" ] || e2e_fail "a null topic did not connect"

# [RUN] (in lower case): frames arrive and the value is the frame padded to 127 characters.
"$kdde" execute '[run]' || e2e_fail "execute [run] was not acknowledged"
got=""
for _ in $(seq 50); do
  got=$(value request)
  [ "$got" != "[]" ] && break
  sleep 0.1
done
[[ "$got" =~ ^\[[0-9]+\.[0-9]+\ +\]$ ]] || e2e_fail "request after [RUN] gave $got"
[ ${#got} -eq 129 ] || e2e_fail "the value is ${#got} characters with brackets, not 127 + 2"

# gdbus against the interface. Each gdbus call is its own client, so the conversation one
# opened is refused to the next.
conv=$(gdbus call --session -d dde.Kelvor -o / -m dde.Server.Initiate Kelvor System | sed 's/.*uint32 \([0-9]*\).*/\1/')
[ -n "$conv" ] && [ "$conv" -gt 0 ] || e2e_fail "gdbus Initiate gave no conversation"
refused() { local out; out=$("$@" 2>&1 || true); grep -q "$ERROR" <<<"$out"; }
ERROR=dde.Error.UnknownConversation refused gdbus call --session -d dde.Kelvor -o / -m dde.Server.Request "$conv" ManualData 1 ||
  e2e_fail "another client's conversation was not refused"
ERROR=dde.Error.NoAnswer refused gdbus call --session -d dde.Kelvor -o / -m dde.Server.Initiate Excel System ||
  e2e_fail "an initiate for another application was answered"
busctl --user call dde.Kelvor / dde.Server Initiate ss "" "" | grep -q '^u [0-9]' ||
  e2e_fail "busctl could not initiate with null names"

# [WAITRS]: the next request is answered with the next frame (one comes every 300 ms).
"$kdde" execute '[WAITRS]'
start=$(now)
got=$(value request)
took=$(ms_since "$start")
[ "$took" -lt 1500 ] || e2e_fail "[WAITRS] then request took $took ms with frames every 300 ms"
[[ "$got" =~ ^\[[0-9]+\.[0-9]+\ +\]$ ]] || e2e_fail "[WAITRS] then request gave $got"

# A hot link on AutoData: the value at once, then changes about once a second. The advise
# handler's "Autodata:" message holds nothing while it waits for a person: other clients
# are answered and readings go on arriving. Then it is closed as one would.
"$kdde" advise >advise.out 2>advise.err &
advise=$!
"$kdde" advise readings >readings.out 2>/dev/null &
readings=$!
message=$(e2e_wait_window '^!$' 10) || e2e_fail "no Autodata: message window"
sleep 0.5
[ -s advise.out ] || e2e_fail "the advise sent nothing at once"
"$kdde" --timeout 1 request >/dev/null || e2e_fail "a request went unanswered while the Autodata: message was open"
first=$(value request)
sleep 0.7
[ "$(value request)" != "$first" ] || e2e_fail "readings stopped while the Autodata: message was open"
xdotool mousemove --window "$message" 300 120 click 1
e2e_wait_gone '^!$' 10 || e2e_fail "the message window did not close on OK"
sleep 5.2
kill -INT "$advise"
rc=0
wait "$advise" || rc=$?
advise=""
[ "$rc" = 0 ] || e2e_fail "kelvor-dde advise ended with $rc on Ctrl-C"
kill -INT "$readings"
wait "$readings" || true
readings=""
# Readings gets every reading of the simulated instrument (10 to 29, then again), none
# skipped, none twice, none merged.
python3 - readings.out <<'EOF2' || e2e_fail "the Readings link lost or repeated readings: $(cat readings.out)"
import sys
values = [float(line) for line in open(sys.argv[1])]
assert len(values) >= 15, f'{len(values)} readings in about 6 s, one came every 300 ms'
assert all(b - a == 1 or b < a for a, b in zip(values, values[1:])), values
EOF2
lines=$(wc -l <advise.out)
# Frames change the value every 300 ms; the link sends it about once a second (a loaded
# machine may stretch that a little, hence the lower bound of two changes).
[ "$lines" -ge 3 ] && [ "$lines" -le 8 ] || e2e_fail "advise printed $lines lines in about 6 s: $(cat advise.out)"
# The simulated readings cycle, so a value may come back later; only a repeat of the value
# just sent means an update without a change.
[ "$(uniq -d advise.out | wc -l)" = 0 ] || e2e_fail "advise sent a value that had not changed"
awk 'length($0) != 127 { exit 1 }' advise.out || e2e_fail "an advised value is not 127 characters"

# [STOP]: reception ends, the value stays; [WAITRS] then answers after about 5 seconds.
# Meanwhile three cells of newer clients link to ManualData: the waiting request is still
# answered, each cell gets a copy, and one "Autodata:" message shows, not three.
"$kdde" execute '[STOP]'
sleep 0.5
held=$(value request)
sleep 1
[ "$(value request)" = "$held" ] || e2e_fail "the value changed after [STOP]"
"$kdde" execute '[WAITRS]'
for n in 1 2 3; do
  (sleep 1; exec "$kdde" advise ManualData >cell$n.out 2>/dev/null) &
  cells="$cells $!"
done
start=$(now)
got=$(value request)
took=$(ms_since "$start")
[ "$took" -ge 4900 ] && [ "$took" -le 6500 ] || e2e_fail "[WAITRS] without frames answered after $took ms"
[ "$got" = "$held" ] || e2e_fail "[WAITRS] without frames gave $got, not the held value"
sleep 0.3
for n in 1 2 3; do
  [ "$(value_of cell$n.out)" = "$held" ] || e2e_fail "linked cell $n did not get the answer's copy: $(cat cell$n.out)"
done
[ "$(xdotool search --onlyvisible --name '^!$' | wc -l)" = 1 ] || e2e_fail "three linked cells did not show exactly one message"
message=$(e2e_wait_window '^!$' 5)
xdotool mousemove --window "$message" 300 120 click 1
e2e_wait_gone '^!$' 10 || e2e_fail "the Autodata: message did not close on OK"
# shellcheck disable=SC2086
kill -INT $cells
wait $cells 2>/dev/null || true
cells=""

# The line: a recorder replaces the instrument on COM1.
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=""
# Meanwhile COM1 is missing: the box of a [RUN] that cannot open it holds nobody either.
"$kdde" execute '[RUN]' || e2e_fail "[RUN] without a device was not acknowledged"
box=$(e2e_wait_window '^Kelvor - serial port$' 10) || e2e_fail "a [RUN] without a device said nothing"
"$kdde" --timeout 1 request >/dev/null || e2e_fail "a request went unanswered while the port's error box was open"
xdotool windowactivate --sync "$box" key --clearmodifiers Return
e2e_wait_gone '^Kelvor - serial port$' 5
"$kdde" execute '[STOP]'
python3 "$here/line_recorder.py" "$work/com1" line1.out 55.5 "$work/feed" &
recorder=$!
for _ in $(seq 50); do [ -e com1 ] && break; sleep 0.1; done
"$kdde" execute '[RUN]'
"$kdde" execute '[SEND(abc)]'
"$kdde" execute '[SEND_W(x y )]'
# Two commands in one string: each runs as if sent alone.
"$kdde" execute '[SEND(ab)][SEND(cd)]'
sleep 0.8
[ "$(cat line1.out)" = $'ABC\rX Y\rAB\rCD\r' ] || e2e_fail "the line got $(od -c line1.out)"
[ "$(value request)" = "$(padded 55.5)" ] || e2e_fail "the recorder's answer did not arrive: $(value request)"
# A reading the instrument sends the moment [CLEARBUF] is acknowledged is kept: the clearing
# is done by then.
for n in $(seq 20); do
  "$kdde" execute '[CLEARBUF]'
  printf '%s\r' "$n.25" >feed
  got=""
  for _ in $(seq 30); do
    got=$(value request)
    [ "$got" = "[]" ] || break
    sleep 0.05
  done
  [ "$got" = "$(padded "$n.25")" ] || e2e_fail "the reading sent after acknowledged [CLEARBUF] number $n was lost: $got"
done
# [CLEARBUF] while running empties the value.
"$kdde" execute '[CLEARBUF]'
[ "$(value request)" = "[]" ] || e2e_fail "[CLEARBUF] left $(value request)"
# A reading in UTF-8 is offered as 127 characters, never a split one.
printf '+012.50 µm 25°C €é\r' >feed
for _ in $(seq 30); do [ "$(value request)" != "[]" ] && break; sleep 0.05; done
"$kdde" request | python3 -c '
import sys
value = sys.stdin.buffer.read().decode("utf-8").rstrip("\n")
assert value == "+012.50 µm 25°C €é".ljust(127), repr(value)' || e2e_fail "the non-ASCII reading was not offered as 127 characters"
"$kdde" execute '[CLEARBUF]'

# [LOAD( finds Second.Klv without regard to case; its PORT 1 is COM2 from the next [RUN].
python3 "$here/line_recorder.py" "$work/com2" line2.out &
recorder="$recorder $!"
for _ in $(seq 50); do [ -e com2 ] && break; sleep 0.1; done
"$kdde" execute '[LOAD(second.klv)]'
"$kdde" execute '[STOP]'
"$kdde" execute '[RUN]'
"$kdde" execute '[SEND(two)]'
sleep 0.8
[ "$(cat line2.out 2>/dev/null)" = $'TWO\r' ] || e2e_fail "after [LOAD( the line of COM2 got: $(od -c line2.out 2>&1)"

# [APPHIDE] takes the strip out of the top-most band at the next tick; [APPTOP] restores it.
above "$main" || e2e_fail "the strip is not top-most to begin with"
"$kdde" execute '[APPHIDE]'
sleep 0.5
above "$main" && e2e_fail "[APPHIDE] left the strip top-most"
"$kdde" execute '[APPTOP]'
sleep 0.5
above "$main" || e2e_fail "[APPTOP] did not make the strip top-most"

# [WAIT( grows the strip to 38 units with the progress bar, holds every other DDE message
# meanwhile, and ends early at a key press.
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$HEIGHT" = 52 ] || e2e_fail "the strip is $HEIGHT pixels high before [WAIT(, not 26 units"
start=$(now)
"$kdde" execute '[WAIT(8)]'
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$HEIGHT" = 76 ] || e2e_fail "the strip is $HEIGHT pixels high during [WAIT(, not 38 units"
xdotool windowactivate --sync "$main" key space
"$kdde" request >/dev/null  # answered only once the wait has ended
took=$(ms_since "$start")
[ "$took" -lt 4500 ] || e2e_fail "a key press did not end [WAIT(8)] early (a request waited until $took ms)"
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$HEIGHT" = 52 ] || e2e_fail "the strip stayed $HEIGHT pixels high after [WAIT("
start=$(now)
"$kdde" execute '[WAIT(2)]'
"$kdde" request >/dev/null
took=$(ms_since "$start")
[ "$took" -ge 1900 ] || e2e_fail "a request was answered $took ms into a [WAIT(2)]: DDE messages must wait"

# A client floods the server while its own [WAIT( holds it. Requests with a 1 MiB item on a
# conversation not its own are refused at once; of its requests on its own conversation,
# those beyond what one client may have waiting get Busy at once. Kelvor's memory stays
# within 48 MiB of what it was, and once a key ends the wait it answers within a second
# (66 MiB held back used to leave it deaf for good).
mib() { awk -v key="$2:" '$1 == key { print int($2 / 1024) }' "/proc/$1/status"; }
before=$(mib "$pid" VmRSS)
"$flood" 66 1048576 1100 >flood.out || e2e_fail "the flooding client failed"
grep -qx 'dde.Error.UnknownConversation 66' flood.out && grep -qx 'dde.Error.Busy 76' flood.out &&
  grep -qx 'waiting 1024' flood.out || e2e_fail "the flood was answered: $(cat flood.out)"
grew=$(($(mib "$pid" VmHWM) - before))
[ "$grew" -le 48 ] || e2e_fail "Kelvor grew by $grew MiB during the flood"
echo "memory during the flood: at most $grew MiB above the $before MiB before"
xdotool windowactivate --sync "$main" key space
"$kdde" --timeout 1 request >/dev/null || e2e_fail "no answer within a second of the end of the backlog"
gdbus call --session --timeout 1 -d dde.Kelvor -o / -m org.freedesktop.DBus.Peer.Ping >/dev/null ||
  e2e_fail "no Ping answer after the backlog"

# Calls with an empty signature argument are refused, and however many come, they write at
# most a few lines to standard error.
for _ in $(seq 30); do busctl --user call dde.Kelvor / dde.Server Poke g "" >/dev/null 2>&1 || true; done
warned=$(grep -c 'invalid signature' kelvor.log || true)
echo "30 calls with an empty signature: $warned lines on standard error"
[ "$warned" -le 6 ] || e2e_fail "30 malformed calls wrote $warned lines to standard error"

# Calls without an interface field, which the bus passes on (the method is then looked for by
# its name alone), are answered as such, and Kelvor lives on: one that was no DDE method used
# to end it.
bare() { "$buscall" dde.Kelvor / "" "$@"; }
[[ "$(bare Introspect)" == "return <!DOCTYPE node"* ]] || e2e_fail "Introspect without interface: $(bare Introspect)"
[ "$(bare Ping)" = "return " ] || e2e_fail "Ping without interface: $(bare Ping)"
unknown="error org.freedesktop.DBus.Error.UnknownMethod"
for call in GetMachineId "NoSuchMethod s:x" "Execute s:[RUN]" "Get s:dde.Server s:x"; do
  # shellcheck disable=SC2086
  got=$(bare $call)
  [ "$got" = "$unknown" ] || e2e_fail "$call without interface was answered: $got"
done
[ "$("$buscall" dde.Kelvor /dde "" Ping)" = "error org.freedesktop.DBus.Error.UnknownObject" ] ||
  e2e_fail "a call without interface to another object was not refused as such"
got=$(bare Initiate s:Kelvor s:System)
[[ "$got" =~ ^return\ [1-9][0-9]*$ ]] || e2e_fail "Initiate without interface gave: $got"
kill -0 "$pid" 2>/dev/null || e2e_fail "Kelvor ended on calls without an interface"
"$kdde" --timeout 2 request >/dev/null || e2e_fail "Kelvor stopped serving after calls without an interface"

# kelvor-dde's exit codes: a request nobody answers times out (3), usage errors give 2.
rc=0
"$kdde" --timeout 0.5 request NoSuchItem >/dev/null 2>&1 || rc=$?
[ "$rc" = 3 ] || e2e_fail "a request for an unknown item exited $rc, not 3 (time-out)"
for usage in "" "bogus" "execute" "poke ITEM" "--timeout 0 request" "--service 9x request" "--frobnicate request"; do
  rc=0
  # shellcheck disable=SC2086
  "$kdde" $usage >/dev/null 2>&1 || rc=$?
  [ "$rc" = 2 ] || e2e_fail "kelvor-dde $usage exited $rc, not 2"
done
"$kdde" --help | grep -q '^EXIT STATUS' || e2e_fail "kelvor-dde --help has no EXIT STATUS section"

# A second Kelvor, in a folder of its own with the same settings, cannot take the name: it
# starts without a server and says so once; the first keeps serving.
mkdir second
cp KELVOR.INI second/
(cd second && exec "$kelvor" >../kelvor2.log 2>&1) &
second=$!
pid="$pid $second"
e2e_close_splash
notice=$(e2e_wait_window '^!$' 20) || e2e_fail "the second Kelvor did not say that it has no DDE server"
xdotool mousemove --window "$notice" 300 120 click 1
e2e_wait_gone '^!$' 10 || e2e_fail "the notice did not close on OK"
kill -0 "$second" 2>/dev/null || e2e_fail "the second Kelvor did not go on without a server"
[ "$(value request)" = "[]" ] || e2e_fail "the first Kelvor stopped serving when a second one started"
kill "$second"
wait "$second" 2>/dev/null || true
pid=${pid% *}

# An advise on the linked AutoData gets the value at once, without the Autodata: message,
# and ends with 1 when the server leaves the bus.
"$kdde" advise >advise2.out 2>/dev/null &
advise=$!
sleep 1
xdotool search --onlyvisible --name '^!$' >/dev/null 2>&1 && e2e_fail "an advise on a linked item showed a message"
[ "$(wc -l <advise2.out)" -ge 1 ] || e2e_fail "the advise on a linked item sent nothing at once"

# [APPCLOSE] while running: the port closes, two seconds pass, the program ends and its
# name leaves the bus.
start=$(now)
"$kdde" execute '[APPCLOSE]'
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && e2e_fail "[APPCLOSE] did not end the program"
took=$(ms_since "$start")
[ "$took" -ge 1800 ] || e2e_fail "[APPCLOSE] while running ended after $took ms, without the two-second wait"
pid=""
owner && e2e_fail "dde.Kelvor stayed on the bus after the program ended"
rc=0
wait "$advise" || rc=$?
advise=""
[ "$rc" = 1 ] || e2e_fail "kelvor-dde advise exited $rc when the server left, not 1"
rc=0
"$kdde" request >/dev/null 2>&1 || rc=$?
[ "$rc" = 1 ] || e2e_fail "kelvor-dde without a server exited $rc, not 1"
echo "DDE end-to-end: all checks passed"
