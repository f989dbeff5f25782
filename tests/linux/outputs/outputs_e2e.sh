#!/usr/bin/env bash
# The reading log and MQTT publishing end to end: kelvor-sim on a pseudo-terminal as the
# instrument, the real program, and a real Mosquitto broker on a free loopback port with a
# persistent-session collector (mosquitto_sub). Readings carry commas, quotes, a line break
# and a Windows-1252 byte, and a counter, so a lost or doubled one shows.
# - A wrong password: one notice, no crash; the password put right in the outputs window
#   takes effect at once, and KELVOR.INI becomes readable by its owner only.
# - Every reading reaches the collector in order with increasing sequence numbers; the
#   newest is retained.
# - The broker away for ten seconds while readings keep coming: afterwards the collector
#   has every reading, none twice, in order. (A QoS 1 subscriber whose acknowledgement the
#   broker did not take in before it stopped gets that message again, marked as a duplicate
#   with the same message id; the collector drops such a redelivery, as MQTT expects it to.
#   A reading Kelvor sent twice would come as a message of its own and fail the test.)
# - Kelvor killed with SIGKILL while the broker is away (readings flooding in): started
#   again, the queued readings still arrive; the log has no torn line and parses back with
#   Python's csv module to exactly the readings published.
# Usage: outputs_e2e.sh PATH/TO/kelvor PATH/TO/kelvor-sim
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
kelvor=$(readlink -f "$1")
sim=$(readlink -f "$2")
broker_program=$(command -v mosquitto || echo /usr/sbin/mosquitto)

e2e_scratch pid sim_pid collector_pid broker_pid

# The broker: persistence on (sessions and queued messages survive its restart), one user.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir broker
: >broker/passwd
mosquitto_passwd -b broker/passwd kelvor secret
cat >broker/mosquitto.conf <<EOF
listener $port 127.0.0.1
allow_anonymous false
password_file $work/broker/passwd
persistence true
persistence_location $work/broker/
# The collector gets every reading of a flood, however far behind it is (by default the
# broker keeps 1,000 messages for a client and drops the rest).
max_queued_messages 0
log_dest none
user $(id -un)
EOF
start_broker() {
  "$broker_program" -c broker/mosquitto.conf >/dev/null 2>&1 &
  broker_pid=$!
  for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && return 0
    sleep 0.05
  done
  e2e_fail "the broker did not start"
}
stop_broker() {
  kill "$broker_pid"
  wait "$broker_pid" 2>/dev/null || true
  broker_pid=""
}
start_broker

prefix="kelvor/$(hostname)/E2E"
# The collector: a persistent session at QoS 1, so it gets what was published while it
# was away from the broker too.
stdbuf -oL mosquitto_sub -h 127.0.0.1 -p "$port" -u kelvor -P secret -i collector -c -q 1 -d -t "$prefix/reading" \
  -F '%p' >collected.txt 2>&1 &
collector_pid=$!
for _ in $(seq 100); do grep -q SUBACK collected.txt && break; sleep 0.05; done
grep -q SUBACK collected.txt || e2e_fail "the collector did not subscribe"

# The instrument: ten readings a second such as +000017 g,"net"<LF>b<0xB5>, cut at CR.
"$sim" --link "$work/instrument" --interval 100 --format counter --unit $'g,"net"\nb\xb5' >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$work/instrument" ] && break; sleep 0.1; done

e2e_configuration TEST.KLV NAME=E2E
e2e_workspace TEST.KLV "$work/instrument"
printf '[LOG]\nENABLE=1\n[MQTT]\nENABLE=1\nHOST=127.0.0.1\nPORT=%s\nUSER=kelvor\nPASSWORD=wrong-one\n' "$port" >>KELVOR.INI
# The strip in the middle of the screen, where a box centred on it would hide it.
printf '[SCREEN]\nPosX=520\nPosY=420\n' >>KELVOR.INI
chmod 644 KELVOR.INI

start_kelvor() {
  "$kelvor" >>"$work/kelvor.log" 2>&1 &
  pid=$!
  e2e_close_splash
  main=$(e2e_wait_window '^NORDAL - Kelvor$')
}
boxes() { xdotool search --onlyvisible --name '^MQTT publishing$' 2>/dev/null | wc -l; }
# Closes the notices that do not wait (they may lie over the strip's buttons).
close_boxes() {
  local box
  for box in $(xdotool search --onlyvisible --name '^MQTT publishing$' 2>/dev/null); do
    xdotool windowactivate --sync "$box" key --clearmodifiers Return 2>/dev/null || true
  done
  e2e_wait_gone '^MQTT publishing$' 5
}

# A wrong password: one notice, whatever the retries, and the program goes on. The notice
# does not open over the strip.
start_kelvor
notice=$(e2e_wait_window '^MQTT publishing$' 10)
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main" | sed 's/^/STRIP_/')"
eval "$(xdotool getwindowgeometry --shell "$notice")"
[ $((X + WIDTH)) -le "$STRIP_X" ] || [ $((STRIP_X + STRIP_WIDTH)) -le "$X" ] ||
  [ $((Y + HEIGHT)) -le "$STRIP_Y" ] || [ $((STRIP_Y + STRIP_HEIGHT)) -le "$Y" ] ||
  e2e_fail "the notice opened over the strip: $WIDTH x $HEIGHT at $X,$Y, the strip at $STRIP_X,$STRIP_Y"
sleep 4  # two more attempts
[ "$(boxes)" = 1 ] || e2e_fail "the refused password was told $(boxes) times"
kill -0 "$pid" 2>/dev/null || e2e_fail "the program ended on a refused password"
grep -q 'user name or password' kelvor.log || e2e_fail "the refusal is not on standard error"
close_boxes

# Put right in the outputs window (menu item 7), where the password field is the ninth
# control: typed masked, saved, in force without a restart.
e2e_menu_item "$main" 7
outputs=$(e2e_wait_window '^Reading log and MQTT$' 5)
xdotool windowactivate --sync "$outputs"
xdotool key --clearmodifiers Tab Tab Tab Tab Tab Tab Tab Tab ctrl+a
xdotool type --delay 20 secret
[ -n "${KELVOR_E2E_SHOT:-}" ] && import -window "$outputs" "$KELVOR_E2E_SHOT"
xdotool key --clearmodifiers Return
e2e_wait_gone '^Reading log and MQTT$' 5
[ "$(e2e_ini KELVOR.INI MQTT PASSWORD)" = secret ] || e2e_fail "the password was not saved"
[ "$(stat -c %a KELVOR.INI)" = 600 ] || e2e_fail "KELVOR.INI is readable by others: $(stat -c %a KELVOR.INI)"
grep -q -e secret -e wrong-one kelvor.log && e2e_fail "a password reached standard error"

# Readings flow: a few seconds of them.
xdotool mousemove --window "$main" 237 15 click 1
# The collector's readings: each payload line follows the PUBLISH line that -d prints for it.
cat >collected.py <<'EOF'
import json, re
def readings():
    kept, seen, head = [], set(), None
    for line in open('collected.txt', encoding='utf-8'):
        m = re.search(r'received PUBLISH \(d(\d), q\d, r\d, m(\d+),', line)
        if m:
            head = (m.group(1) == '1', int(m.group(2)))
        elif line.startswith('{') and head:
            duplicate, mid = head
            if not (duplicate and mid in seen):
                kept.append(json.loads(line))
            seen.add(mid)
            head = None
    return kept
EOF
count() { python3 -c 'import collected; print(len(collected.readings()))'; }
logged() {
  python3 -c 'import csv, glob
print(sum(len(list(csv.reader(open(f, newline="", encoding="utf-8")))) - 1 for f in glob.glob("readings/*.csv")))'
}
wait_count() {  # N SECONDS
  local deadline=$((SECONDS + $2))
  while [ "$(count)" -lt "$1" ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
  [ "$(count)" -ge "$1" ] || e2e_fail "only $(count) readings arrived, not $1"
}
# Until the collector has what the log has (one reading may be on its way).
wait_caught_up() {  # SECONDS
  local deadline=$((SECONDS + $1)) have want
  while true; do
    want=$(($(logged) - 1))
    have=$(count)
    [ "$have" -ge "$want" ] && return 0
    [ $SECONDS -lt $deadline ] || e2e_fail "$have readings arrived, $((want + 1)) were logged"
    sleep 0.2
  done
}
wait_count 20 10

# The broker away for ten seconds while readings keep coming.
stop_broker
sleep 10
start_broker
wait_caught_up 20

# Away again, readings flooding in, and Kelvor killed in the middle of it.
close_boxes
xdotool mousemove --window "$main" 237 15 click 1  # stop, so that the port can change
stop_broker
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
# A thousand readings a second: every one is kept, within the queue's 10,000.
"$sim" --link "$work/flood" --rate 1000 --format counter --unit $'kg,"net"\nb\xb5' >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$work/flood" ] && break; sleep 0.1; done
sed -i "s|^COM1=.*|COM1=$work/flood|" KELVOR.INI
xdotool mousemove --window "$main" 237 15 click 1
sleep 2
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
pid=""
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
before=$(count)
[ "$before" -lt "$(logged)" ] || e2e_fail "nothing was queued when Kelvor was killed"
start_broker
start_kelvor  # reception stays stopped: only the queue drains
wait_caught_up 60

# Checks on what the collector, the broker and the log hold.
last=$(mosquitto_sub -h 127.0.0.1 -p "$port" -u kelvor -P secret -C 1 -W 5 -t "$prefix/last")
status=$(mosquitto_sub -h 127.0.0.1 -p "$port" -u kelvor -P secret -C 1 -W 5 -t "$prefix/status")
[ "$status" = online ] || e2e_fail "status is '$status'"
python3 - "$last" <<'EOF' || e2e_fail "the readings do not match"
import csv, datetime, glob, json, sys

import collected
published = collected.readings()
seqs = [p['seq'] for p in published]
assert seqs == list(range(seqs[0], seqs[0] + len(seqs))), f'sequence numbers not in order, once each: {seqs}'
assert json.loads(sys.argv[1])['seq'] == seqs[-1], 'the retained last is not the newest reading'

rows = []
for name in sorted(glob.glob('readings/*.csv')):
    with open(name, newline='', encoding='utf-8') as f:
        table = list(csv.reader(f))
    assert table[0] == ['time', 'configuration', 'port', 'value', 'frame'], table[0]
    for row in table[1:]:
        assert len(row) == 5, f'a torn or broken line in {name}: {row}'
        rows.append(row)

def unit_form(text):
    number, _, unit = text.partition(' ')
    return len(number) == 7 and number.isdigit() and unit in ('g,"net"\nb\u00b5', 'kg,"net"\nb\u00b5')

# Reception that starts while the flooding instrument is in the middle of a reading takes its
# tail as the first reading; every other one is whole.
def whole(values):
    broken = [i for i, v in enumerate(values) if not unit_form(v)]
    first_flood = next((i for i, v in enumerate(values) if 'kg,' in v or not unit_form(v)), None)
    return broken in ([], [first_flood])

def instant(text):
    return datetime.datetime.fromisoformat(text.replace('Z', '+00:00'))

logged = []
for time, config, port, value, frame in rows:
    assert config == 'E2E' and port == 'COM1' and value == frame, (config, port, value, frame)
    logged.append((instant(time), value))
assert whole([v for _, v in logged]), 'a reading in the log is not whole'
sent = []
for p in published:
    assert p['port'] == 'COM1' and p['value'] == p['frame'], p
    sent.append((instant(p['time']), p['value']))
# SIGKILL may fall between a reading's log line and its queue entry: the log may hold one more.
assert logged in (sent, sent + logged[len(sent):][:1]), f'log and broker differ: {len(logged)} logged, {len(sent)} published'
# The instrument at ten readings a second (grams) and the flood (kilograms) are read without
# a gap: nothing lost on the way.
for unit in ('g,', 'kg,'):
    numbers = [int(v.split(' ')[0]) for _, v in sent if unit_form(v) and v.partition(' ')[2].startswith(unit)]
    gaps = [(a, b) for a, b in zip(numbers, numbers[1:]) if b != a + 1]
    assert not gaps, f'{unit} readings lost between {gaps}'
    print(f'{len(numbers)} readings in {unit[:-1]}, in order without a gap')
print(f'{len(sent)} readings logged and published in order')

EOF
grep -q -e secret -e wrong-one kelvor.log && e2e_fail "a password reached standard error"
echo "outputs end-to-end: all checks passed"
