#!/usr/bin/env bash
# Pokes flooding the DDE server, measured from outside with the real program. Run it under
# tests/linux/headless.sh (it needs a display and a session bus):
#   tests/linux/headless.sh bench/dde_flood.sh build
# 1. Four clients send 50,000 empty Pokes each, without waiting, while a [WAIT( holds the
#    desk; a key press then ends the wait, and a request and a Ping are timed.
# 2. No window held: eight clients send 50,000 Pokes each; the resident memory before, at its
#    highest and a while after the flood.
# 3. Three clients send 100,000 requests each (each answered with an error message) and never
#    read an answer; memory while they stay, and after they leave.
# 4. Two clients leave 30,000 requests each pending (more than the bound in all); a new
#    client's request, then memory after they leave.
set -euo pipefail
build=$(readlink -f "${1:-build}")
clients1=${CLIENTS1:-4} clients2=${CLIENTS2:-8} pokes=${POKES:-50000}
source "$(dirname "$0")/../tests/linux/e2e_lib.sh"
e2e_scratch pid
e2e_configuration TEST.KLV NAME=TEST
e2e_workspace TEST.KLV
kdde="$build/kelvor-dde"
mb() { awk -v key="$2:" '$1 == key { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
now() { date +%s%N; }
ms_since() { echo $((($(now) - $1) / 1000000)); }

"$build/kelvor" >kelvor.log 2>&1 &
pid=$!
e2e_close_splash
main=$(e2e_wait_window '^NORDAL - Kelvor$')
for _ in $(seq 100); do "$kdde" --timeout 1 request >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1

echo "1. $clients1 clients x $pokes Pokes while [WAIT( holds the desk; memory before: $(mb "$pid" VmRSS) MB"
floods=()
for i in $(seq "$clients1"); do "$build/dde_flood" pokes "$pokes" 3000 >"held$i.out" & floods+=("$!"); done
sleep 1
"$kdde" execute '[WAIT(99999)]'
# Until every client has sent all its calls, and a while longer for the bus to pass them on.
for _ in $(seq 600); do [ "$(cat held*.out | grep -c '^sent')" = "$clients1" ] && break; sleep 0.5; done
sleep "${HOLD_SECONDS:-10}"
held_peak=$(mb "$pid" VmHWM)
xdotool windowactivate --sync "$main" key space
# The bus daemon's own answer, as a floor for what any program on the bus can do meanwhile.
start=$(now)
gdbus call --session --timeout 600 -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.GetId >/dev/null
daemon_ms=$(ms_since "$start")
start=$(now)
"$kdde" --timeout 600 request >/dev/null
request_ms=$(ms_since "$start")
start=$(now)
gdbus call --session --timeout 600 -d dde.Kelvor -o / -m org.freedesktop.DBus.Peer.Ping >/dev/null
ping_ms=$(ms_since "$start")
echo "   after the key press: the bus daemon's GetId answered in $daemon_ms ms, then a request in $request_ms ms, a Ping in $ping_ms ms"
echo "   memory: at most $held_peak MB while held"
wait "${floods[@]}"
echo "   answers: $(grep -hv '^sent' held*.out | awk '{n[$1] += $2} END {for (k in n) printf "%s %d  ", k, n[k]}')"
echo "   $(grep -h '^sent' held*.out | tr '\n' ' ')"
sleep 5
echo "   memory 5 s after the flood: $(mb "$pid" VmRSS) MB"

before=$(mb "$pid" VmRSS)
floods=()
start=$(now)
for i in $(seq "$clients2"); do "$build/dde_flood" pokes "$pokes" 0 >"open$i.out" & floods+=("$!"); done
wait "${floods[@]}"
took=$(ms_since "$start")
peak=$(mb "$pid" VmHWM)
sleep 5
echo "2. $clients2 clients x $pokes Pokes, no window held: all answered in $took ms;"
echo "   answers: $(grep -hv '^sent' open*.out | awk '{n[$1] += $2} END {for (k in n) printf "%s %d  ", k, n[k]}')"
echo "   memory: $before MB before, at most $peak MB (both floods), $(mb "$pid" VmRSS) MB 5 s after"

bus_call=$build/bus_call
unread=${UNREAD:-100000}
# Clients that stay on the bus, unread, until the fifo's writer goes.
hold_clients() {  # COUNT CALLS ITEM FORMAT
  rm -f hold; mkfifo hold
  floods=()
  for i in $(seq "$1"); do
    "$bus_call" --unread "$2" dde.Kelvor / dde.Server Request u:own "s:$3" "u:$4" <hold >"unread$i.out" &
    floods+=("$!")
  done
  exec 3>hold
  for _ in $(seq 600); do [ "$(cat unread*.out | grep -c '^sent')" = "$1" ] && break; sleep 0.5; done
}
# A client still sending (the daemon takes a flood slowly) is ended: it leaves the bus all the same.
let_go() { exec 3>&-; kill "${floods[@]}" 2>/dev/null || true; wait "${floods[@]}" || true; rm -f unread*.out; }

before=$(mb "$pid" VmRSS)
start=$(now)
hold_clients 3 "$unread" ManualData 7
sleep "${HOLD_SECONDS:-10}"
echo "3. 3 clients x $unread requests, never read: sent in $(ms_since "$start") ms; memory $before MB before, $(mb "$pid" VmRSS) MB 10 s after"
let_go
sleep 5
echo "   5 s after they left: $(mb "$pid" VmRSS) MB; stderr told $(grep -c 'does not take up its answers' kelvor.log) times"

before=$(mb "$pid" VmRSS)
hold_clients 2 30000 Nothing 1
sleep 5
start=$(now)
newcomer=$("$kdde" --timeout 10 request 2>&1 | head -c 60 || true)
echo "4. 2 clients x 30,000 pending requests: a new client's request answered in $(ms_since "$start") ms: '$newcomer'"
echo "   memory $before MB before, $(mb "$pid" VmRSS) MB while held"
let_go
sleep 5
echo "   5 s after they left: $(mb "$pid" VmRSS) MB"
kill "$pid"
