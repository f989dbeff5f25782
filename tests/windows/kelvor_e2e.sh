#!/bin/bash
# Kelvor.exe end to end under Wine: the simulated instrument on pseudo-terminals mapped to
# COM1 and COM2 of the prefix, the program itself, a DDEML client (kelvor-dde.exe), a
# raw-message client, a window driver and a receiver window with an EDIT control.
#
# Usage: kelvor_e2e.sh WINDOWS_BUILD_DIR PATH/TO/kelvor-sim
# Runs under tests/windows/wine.sh (WINEPREFIX, DISPLAY, the Wine server started and kept):
# Wine links COM1 to /dev/ttyS0 again whenever its server starts.
set -u
here=$(cd "$(dirname "$0")" && pwd)
linux_tests=${LINUX_TESTS:-$here/../linux}
source "$linux_tests/e2e_lib.sh"
build=$(readlink -f "$1")
ksim=$(readlink -f "$2")
wine=${WINE:-/usr/lib/wine/wine64}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { if [ "$2" == "$3" ]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi; }

e2e_scratch sim1 sim2 kelvor receiver advise recorder broker second cells
e2e_on_exit() { [ -n "${kelvor:-}" ] && "$wine" "$build/kelvor-dde.exe" --timeout 2 execute '[APPCLOSE]' >/dev/null 2>&1; }

dde() { "$wine" "$build/kelvor-dde.exe" "$@" | tr -d '\r'; }
raw() { "$wine" "$build/raw_dde_client.exe" "$@" | tr -d '\r'; }
driver() { "$wine" "$build/window_driver.exe" "$@" | tr -d '\r'; }
# A requested value between brackets, so that blanks and emptiness show.
value() { printf '[%s]' "$(dde "$@")"; }
now() { date +%s%N; }
ms_since() { echo $((($(now) - $1) / 1000000)); }
# Starts a simulator with the options given and maps COMn of the prefix to its
# pseudo-terminal; its process id goes into the variable named by $2.
sims=0
start_sim() {
  local n=$1 var=$2 log
  shift 2
  sims=$((sims + 1))
  log=sim$sims.log
  "$ksim" "$@" >"$log" 2>&1 &
  printf -v "$var" '%s' $!
  for _ in $(seq 50); do grep -q '^/dev/' "$log" 2>/dev/null && break; sleep 0.1; done
  ln -sfn "$(head -1 "$log")" "$WINEPREFIX/dosdevices/com$n"
}

e2e_configuration TEST.KLV NAME=WINTEST PORT=0
e2e_configuration KEYS.KLV NAME=KEYS PORT=0 ENABLESENDKEY=1 BUFFERMODE=0
e2e_configuration RECORDS.KLV NAME=RECORDS PORT=1 ENABLESENDKEY=1 BUFFERMODE=1
cp "$linux_tests/../../resources/lang/english.lan" .
printf '[FILECONFIG]\r\nRS232=TEST.KLV\r\n[TRANSLATE]\r\nFILENAME=english.lan\r\n' >KELVOR.INI
# A real broker on the loopback, which the readings reach through the Mosquitto client library
# built into Kelvor.exe.
broker_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\nlog_dest none\nuser %s\n' "$broker_port" "$(id -un)" >broker.conf
"$(command -v mosquitto || echo /usr/sbin/mosquitto)" -c broker.conf >/dev/null 2>&1 &
broker=$!
printf '[MQTT]\r\nENABLE=1\r\nHOST=127.0.0.1\r\nPORT=%s\r\nTOPIC=kelvor/wine\r\n' "$broker_port" >>KELVOR.INI

# Wine links COM1 and COM2 to /dev/ttyS* when its server starts: the server is started (it
# stays) before the links are made.
setsid /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
setsid "$wine" wineboot </dev/null >/dev/null 2>&1
start_sim 1 sim1 --format plain --interval 300 --start 10 --step 1
start_sim 2 sim2 --format record --unit mm --interval 250

# KELVOR.INI held open without sharing by another program (an editor, a backup) as Kelvor
# starts is no missing file: Kelvor waits for it, reads it once it is free and says so,
# with no first-start language dialog; the DDE server below serves as KELVOR.INI says.
"$wine" "$build/window_driver.exe" hold KELVOR.INI 4000 >hold.out 2>&1 &
for _ in $(seq 100); do grep -q held hold.out && break; sleep 0.05; done
grep -q '^held' hold.out || fail "KELVOR.INI could not be held: $(cat hold.out)"
"$wine" "$build/Kelvor.exe" >kelvor.out 2>&1 &
kelvor=$!
check "the splash shows and closes on a click" "" "$(driver wait class:KelvorAbout click class:KelvorAbout gone class:KelvorAbout)"
driver wait 'NORDAL - Kelvor' >/dev/null
check "no language dialog for a KELVOR.INI held open" "count 0" "$(driver count '[SELECTLANGFILE]')"
grep -q 'KELVOR.INI could not be opened at start-up (another program holds it open or locked); Kelvor waited [0-9.]* s and read it' kelvor.log &&
  echo "ok: kelvor.log says KELVOR.INI was held and read once free" || fail "kelvor.log: $(cat kelvor.log)"
sleep 0.5  # the first tick puts the strip in the top-most band
check "the strip shows, top-most" "topmost yes" "$(driver topmost 'NORDAL - Kelvor')"
for _ in $(seq 50); do dde --timeout 1 request >/dev/null 2>&1 && break; sleep 0.1; done

# --- DDEML: requests, [RUN], [WAITRS], a hot link, [STOP].
check "request before any frame is empty" "[]" "$(value request)"
dde execute '[run]' || fail "execute [run] was not acknowledged"
got=""
for _ in $(seq 50); do got=$(value request); [ "$got" != "[]" ] && break; sleep 0.1; done
[[ "$got" =~ ^\[[0-9]+\.[0-9]+\ +\]$ ]] && [ ${#got} -eq 129 ] && echo "ok: a frame arrives, padded to 127" ||
  fail "request after [RUN] gave $got"
dde execute '[WAITRS]'
start=$(now)
got=$(value request)
took=$(ms_since "$start")
[ "$took" -lt 3000 ] && [[ "$got" =~ ^\[[0-9]+\.[0-9]+\ +\]$ ]] && echo "ok: [WAITRS] answers with the next frame ($took ms)" ||
  fail "[WAITRS] then request: $got after $took ms"
published=$(mosquitto_sub -h 127.0.0.1 -p "$broker_port" -C 2 -W 10 -t kelvor/wine/reading | tr -d '\r')
[[ "$published" =~ \"value\":\"[0-9]+\.[0-9]+\" ]] && [ "$(wc -l <<<"$published")" = 2 ] &&
  echo "ok: the readings reach the MQTT broker" || fail "the broker got no readings: [$published] $(grep -i mqtt kelvor.out)"
check "the status on the broker is online" online "$(mosquitto_sub -h 127.0.0.1 -p "$broker_port" -C 1 -W 5 -t kelvor/wine/status)"

"$wine" "$build/kelvor-dde.exe" advise >advise.out 2>advise.err &
advise=$!
# The advise handler's "Autodata:" message waits for a person: press its OK as one would.
check "the Autodata: message shows and closes on OK" "" "$(driver wait '!' 10000 ok '!' gone '!')"
sleep 5
kill -9 "$advise"
wait "$advise" 2>/dev/null
advise=
lines=$(tr -d '\r' <advise.out | grep -c .)
[ "$lines" -ge 3 ] && [ "$lines" -le 8 ] && echo "ok: the hot link sent $lines values in about 6 s" ||
  fail "advise printed $lines lines: $(cat advise.out)"
[ "$(tr -d '\r' <advise.out | uniq -d | wc -l)" = 0 ] || fail "advise sent a value that had not changed"
# A slow program's acknowledged Readings link: a Data message only after the acknowledgement
# of the one before (one a second here, while readings come every 300 ms); none is lost, and
# once the program keeps up the held ones follow in order.
raw ackadvise Readings ackdelay 1000 wait 3000 say caught-up ackdelay 0 wait 1500 >acked.out
python3 - acked.out <<'EOF2' && echo "ok: an acknowledged link waits for each acknowledgement and loses nothing" ||
import sys
lines = [l.rstrip('\n') for l in open(sys.argv[1])]
mark = lines.index('caught-up')
data = [l for l in lines if l.startswith('data ')]
assert all(l.startswith('data Readings ackreq ') for l in data), lines
assert sum(1 for l in lines[:mark] if l.startswith('data ')) <= 4, lines
values = [float(l.split()[3]) for l in data]
assert len(values) >= 12, values
assert all(b - a == 1 or b < a for a, b in zip(values, values[1:])), values
EOF2
  fail "the acknowledged link: $(cat acked.out)"
dde execute '[STOP]'
sleep 0.5
held=$(value request)
# [WAITRS] from a raw client, which then leaves a request pending and, on a newer
# conversation, links ten cells to ManualData; meanwhile a DDEML client requests too. Both
# requests are answered after 5 seconds with the held value, every cell gets a copy, and one
# "Autodata:" message shows, not ten.
# (Straight to the file: through tr the lines would show only at the end.)
"$wine" "$build/raw_dde_client.exe" execute '[WAITRS]' say waiting postrequest ManualData connect Kelvor System \
  $(printf 'advise ManualData %.0s' $(seq 10)) say linked wait 6500 >cells.out &
cells=$!
for _ in $(seq 100); do grep -q waiting cells.out 2>/dev/null && break; sleep 0.05; done
start=$(now)
got=$(value request)
took=$(ms_since "$start")
# (Timed from when the raw client's line shows, a little after its [WAITRS].)
[ "$took" -ge 4000 ] && [ "$took" -le 6500 ] && [ "$got" = "$held" ] &&
  echo "ok: [WAITRS] without frames answers the held value after $took ms" || fail "[WAITRS] without frames: $got after $took ms"
check "ten linked cells show one Autodata: message" "count 1" "$(driver count '!')"
wait "$cells"
cells=
check "the older request is answered and each linked cell gets a copy" "linked 1 10" \
  "$(tr -d '\r' <cells.out | grep -x linked) $(tr -d '\r' <cells.out | grep -cxF "data ManualData response ackreq ${held:1:127}") $(tr -d '\r' <cells.out | grep -cxF "data ManualData ${held:1:127}")"
check "the Autodata: message closes on OK" "" "$(driver ok '!' gone '!')"

# --- Raw WM_DDE messages against the program: AutoData has its link by now.
want="connected 1
data ManualData response ackreq ${held:1:127}
ack positive
data AutoData ${held:1:127}
ack negative
ack positive
ack positive same-block
data ManualData response ackreq ${held:1:127}
terminated"
# [CLEARBUF] while reception is stopped leaves the value.
check "raw client: request, advise, format refused, poke, execute, terminate" "$want" \
  "$(raw request ManualData advise AutoData request ManualData 7 poke ManualData 42 execute '[CLEARBUF]' request ManualData terminate)"

# --- The line: a recorder replaces the instrument on COM1; [SEND( and [SEND_W( reach it.
kill "$sim1"
wait "$sim1" 2>/dev/null
sim1=
python3 "$linux_tests/dde/line_recorder.py" "$work/line" line.out 55.5 &
recorder=$!
for _ in $(seq 50); do [ -e line ] && break; sleep 0.1; done
ln -sfn "$(readlink line)" "$WINEPREFIX/dosdevices/com1"
dde execute '[RUN]'
dde execute '[SEND(abc)]'
dde execute '[SEND_W(x y )]'
raw execute '[SEND(ab)][SEND(cd)]' >/dev/null
sleep 0.8
check "[SEND( and [SEND_W( put their texts on the line, two in one string each as if alone" \
  "$(printf 'ABC\rX Y\rAB\rCD\r' | od -c)" "$(od -c <line.out)"
check "the instrument's answer is the value" "[$(printf '%-127s' 55.5)]" "$(value request)"
dde execute '[CLEARBUF]'
check "[CLEARBUF] while running empties the value" "[]" "$(value request)"
dde execute '[STOP]'

# --- The simulator goes away and comes back during a run: readings resume, no box.
start_sim 1 sim1 --format plain --interval 200 --start 10 --step 1
dde execute '[CLEARBUF]'
dde execute '[RUN]'
sleep 1
kill "$sim1"
wait "$sim1" 2>/dev/null
sleep 1
start_sim 1 sim1 --format plain --interval 200 --start 70 --step 1
got=""
for _ in $(seq 60); do got=$(value request); [[ "$got" =~ ^\[(7[0-9]|8[0-9]|9[0-9])\. ]] && break; sleep 0.1; done
[[ "$got" =~ ^\[(7[0-9]|8[0-9]|9[0-9])\. ]] && echo "ok: readings resume after the instrument came back" ||
  fail "no reading from the returned instrument: $got"
check "no box was shown for the lost port" "count 0" "$(driver count 'Kelvor - serial port')"
dde execute '[STOP]'

# --- Keystrokes into a receiver window: the plain form, then structured records.
kill "$sim1"
wait "$sim1" 2>/dev/null
start_sim 1 sim1 --format unit --unit 'µm 25°C €é' --interval 250
: >received
"$wine" "$build/key_receiver.exe" "Z:${work//\//\\}\\received" >receiver.out 2>&1 &
receiver=$!
driver wait 'Key receiver' >/dev/null
dde execute '[LOAD(KEYS.KLV)]'
dde execute '[RUN]'
sleep 2.5
dde execute '[STOP]'
sleep 0.5
python3 "$linux_tests/keystrokes/check_readings.py" received plain 4 'µm 25°C €é' || fail "the plain readings were not typed exactly"
# The same reading as a DDE value: 127 characters of Windows-1252, never a split one.
for client in dde raw; do
  "$client" request ManualData | python3 -c '
import re, sys
lines = [l for l in sys.stdin.buffer.read().decode("utf-8").splitlines() if l.strip()]
value = lines[-1].removeprefix("data ManualData response ackreq ")
assert len(value) == 127 and re.fullmatch(r"[+-][0-9.]+ µm 25°C €é *", value), repr(value)' &&
    echo "ok: $client: a UTF-8 reading is 127 characters of CF_TEXT" || fail "$client: the non-ASCII value: $("$client" request ManualData)"
done
: >received
dde execute '[LOAD(records.klv)]'
dde execute '[RUN]'
sleep 3
dde execute '[STOP]'
sleep 0.5
python3 "$linux_tests/keystrokes/check_readings.py" received records 6 || fail "the records were not typed exactly"

# --- The strip: [APPHIDE] and [APPTOP], [WAIT( with its band, holding other messages.
dde execute '[APPHIDE]'
sleep 0.3
check "[APPHIDE] takes the strip out of the top-most band" "topmost no" "$(driver topmost 'NORDAL - Kelvor')"
dde execute '[APPTOP]'
sleep 0.3
check "[APPTOP] puts it back" "topmost yes" "$(driver topmost 'NORDAL - Kelvor')"
start=$(now)
dde execute '[WAIT(3)]'
check "[WAIT( shows the band: 38 units" "height 76" "$(driver height 'NORDAL - Kelvor')"
dde request >/dev/null
took=$(ms_since "$start")
[ "$took" -ge 2900 ] && echo "ok: a request waits for [WAIT(3)] ($took ms)" || fail "a request was answered $took ms into [WAIT(3)]"
check "the band hides again" "height 52" "$(driver height 'NORDAL - Kelvor')"

# A client floods the server while a [WAIT( holds it: of its requests, those beyond what one
# client may have waiting get a busy acknowledgement at once; the rest are answered once the
# wait ends, and the server answers others at once after that.
dde execute '[WAIT(5)]'
check "a flood is bounded and then answered" "flood data 1024 busy 76 negative 0" "$(raw flood ManualData 1100 20000 | tail -1)"
dde --timeout 1 request >/dev/null || fail "no answer within a second after the flood"

# Moving the strip writes its place to KELVOR.INI at once.
driver move 'NORDAL - Kelvor' 123,45 >/dev/null
sleep 0.3
check "a move is written to KELVOR.INI" "123 45" "$(e2e_ini KELVOR.INI SCREEN PosX) $(e2e_ini KELVOR.INI SCREEN PosY)"

# A second Kelvor.exe in another folder finds the service name taken: it says so in its
# kelvor.log and its message window and leaves the name to the first.
mkdir other
cp KELVOR.INI TEST.KLV english.lan other/
(cd other && exec "$wine" "$build/Kelvor.exe" >kelvor.out 2>&1) &
second=$!
driver wait class:KelvorAbout click class:KelvorAbout gone class:KelvorAbout >/dev/null
for _ in $(seq 100); do grep -q 'already serves DDE' other/kelvor.log 2>/dev/null && break; sleep 0.1; done
grep -q 'Another program already serves DDE as "Kelvor", so this Kelvor runs without its DDE server' other/kelvor.log &&
  echo "ok: a second Kelvor.exe in another folder leaves the service name" || fail "second Kelvor.exe: $(cat other/kelvor.log)"
check "the first still answers" "0" "$(dde --timeout 2 request >/dev/null; echo $?)"
kill "$second"
wait "$second" 2>/dev/null
second=

dde execute '[APPCLOSE]'
for _ in $(seq 50); do kill -0 "$kelvor" 2>/dev/null || break; sleep 0.1; done
kill -0 "$kelvor" 2>/dev/null && fail "[APPCLOSE] did not end the program" || echo "ok: [APPCLOSE] ends the program"
kelvor=

[ "$failures" -eq 0 ] && echo "Kelvor.exe end to end: all passed" || echo "Kelvor.exe end to end: $failures failed"
exit $((failures > 0))
