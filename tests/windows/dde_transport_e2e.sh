#!/bin/bash
# The Windows DDE transport in real WM_DDE conversations under Wine: a DDEML client
# (kelvor-dde.exe) and a raw-message client against the transport host, which serves the
# DDE server with a value set by [SET(...)].
#
# Usage: dde_transport_e2e.sh BUILD_DIR
# Runs under tests/windows/wine.sh (WINEPREFIX, DISPLAY, the Wine server started); the
# programs run in that one server, as DDE peers must.
set -u
build=$1
wine=${WINE:-/usr/lib/wine/wine64}
scratch=$(mktemp -d)
host_pid=
failures=0
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect NAME EXPECTED ACTUAL
expect() { [ "$2" == "$3" ] && echo "ok: $1" || fail "$1: expected [$2], got [$3]"; }

dde() { "$wine" "$build/kelvor-dde.exe" "$@"; }
raw() { "$wine" "$build/raw_dde_client.exe" "$@" | tr -d '\r'; }

"$wine" "$build/dde_transport_host.exe" >"$scratch/host.out" 2>&1 &
host_pid=$!
for _ in $(seq 100); do grep -q ready "$scratch/host.out" 2>/dev/null && break; sleep 0.1; done

# --- DDEML: request, execute in UTF-16 across to Windows-1252, exit codes.
expect "request before any value is empty" "" "$(dde request)"
dde execute '[SET(12.5 µm 25°C €é)]'
expect "execute acknowledged" 0 $?
expect "request returns the value across Windows-1252" "12.5 µm 25°C €é" "$(dde request)"
dde request Other --timeout 1 >/dev/null 2>&1
expect "an item without a link stays pending: time-out" 3 $?
dde --service Nobody request >/dev/null 2>&1
expect "no server: exit 1" 1 $?
dde --bogus >/dev/null 2>&1
expect "usage error: exit 2" 2 $?
dde execute '[HELLO µ]' >/dev/null
expect "the command text reaches the server intact" "[HELLO µ]" "$(tail -1 "$scratch/host.out" | tr -d '\r')"

# --- DDEML hot link: the current value at once, then each change.
"$wine" "$build/kelvor-dde.exe" advise >"$scratch/advise.out" 2>&1 &
advise_pid=$!
sleep 1.5
dde execute '[SET(13)]'
sleep 1.5
dde execute '[SET(14)]'
sleep 1.5
expect "advise: current value, then each change" "12.5 µm 25°C €é|13|14" "$(tr -d '\r' <"$scratch/advise.out" | paste -sd '|')"
expect "AutoData has a link: requested at once" "14" "$(dde request AutoData)"
kill -9 "$advise_pid"
wait "$advise_pid" 2>/dev/null
sleep 2.5
expect "a client killed with a hot link open is dropped" "conversations 0 requests 0" \
  "$(dde execute '[COUNT]' >/dev/null; sleep 0.3; tail -1 "$scratch/host.out" | tr -d '\r')"

# --- Raw WM_DDE messages: every message, its acknowledgement and its lParam form.
got=$(raw execute '[SET(x1)]' request ManualData request ManualData 2 advise AutoData 7 advise AutoData \
  warm AutoData execute '[SET(x2)]' wait 2500 unadvise AutoData unadvise AutoData poke ManualData hi terminate)
want="connected 1
ack positive same-block
data ManualData response ackreq x1
ack negative
ack negative
ack positive
data AutoData x1
ack positive
warm AutoData
ack positive same-block
data AutoData x2
warm AutoData
ack positive
ack negative
ack positive
terminated"
expect "raw client: the whole conversation" "$want" "$got"
expect "initiate with null names connects; other names get no answer; names compare without case" \
  "connected 1|connected 0|connected 1" "$(raw connect '' '' connect Nobody System connect kELVOR system | paste -sd '|')"

# --- Clients in the field that misbehave, each beside a well-behaved DDEML bystander.
# A client that posts its initiates and sleeps: Kelvor must not wait for it.
raw hang 3 6000 >"$scratch/hang.out" &
hang_pid=$!
for _ in $(seq 50); do grep -q hung "$scratch/hang.out" 2>/dev/null && break; sleep 0.1; done
sleep 0.3
start=$(date +%s%N)
expect "a bystander is answered while a client that posted its initiate sleeps" "x2" "$(dde --timeout 2 request)"
took=$((($(date +%s%N) - start) / 1000000))
# Kelvor waits a second at most for the sleeper, once; before, it waited for its whole sleep.
[ "$took" -le 3000 ] && echo "ok: connected and answered in $took ms" || fail "the bystander took $took ms"
kill "$hang_pid" 2>/dev/null
wait "$hang_pid" 2>/dev/null

# A client that never acknowledges the answers to its requests (Wine's DDEML) costs a few
# answers remembered, not one per request, and the server goes on answering.
expect "2,000 requests never acknowledged are all answered" "stream data 2000 busy 0 negative 0" \
  "$(raw noack stream ManualData 2000 execute '[KEPT]' | sed -n 2p)"
kept=$(grep '^kept' "$scratch/host.out" | tail -1 | tr -d '\r')
[ "${kept#kept }" -le 32 ] 2>/dev/null && echo "ok: blocks kept for acknowledgements are bounded ($kept)" ||
  fail "blocks kept for acknowledgements: $kept"
expect "a normal request after them" "x2" "$(dde --timeout 2 request)"

# A flood from one client: a bystander is answered within a second all the while.
raw flood ManualData 10000 60000 >"$scratch/flood.out" &
flood_pid=$!
sleep 0.5
expect "a bystander is answered within a second during a flood" "x2" "$(dde --timeout 1 request)"
wait "$flood_pid"
read -r _ _ data _ busy _ negative < <(tail -1 "$scratch/flood.out")
[ $((data + busy)) -eq 10000 ] && [ "$negative" -eq 0 ] && echo "ok: every request of the flood is answered ($data data, $busy busy)" ||
  fail "the flood's answers: $(cat "$scratch/flood.out")"

# The same while a hold (a [WAIT( of the program) keeps every message waiting, with big
# executes: what waits is bounded in bytes too, and only what a command can use is kept.
rss() { awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$host_pid/status"; }
before=$(rss)
dde execute '[HOLD(3000)]'
start=$(date +%s%N)
raw flood ManualData 2000 20000 >"$scratch/flood.out" &
flood_pid=$!
raw bigexec 24 524288 20000 >"$scratch/big.out" &
big_pid=$!
sleep 0.5
expect "the bystander waits for the hold, then is answered first" "x2" "$(dde --timeout 4 request)"
took=$((($(date +%s%N) - start) / 1000000))
[ "$took" -le 4000 ] && echo "ok: answered $took ms after the hold began" || fail "answered $took ms after the hold began"
wait "$flood_pid" "$big_pid"
big=$(tail -1 "$scratch/big.out")
case "$big" in
  "bigexec positive 3 busy 21 negative 0") echo "ok: big executes beyond 4 MiB waiting are busy ($big)" ;;
  *) fail "big executes during a hold: $big" ;;
esac
after=$(rss)
[ $((after - before)) -lt 16 ] && echo "ok: memory after 24 big executes: +$((after - before)) MB" ||
  fail "memory grew by $((after - before)) MB with 24 big executes"
longest=$(grep '^\[BIG' "$scratch/host.out" | awk '{print length($0)}' | sort -n | tail -1)
[ "${longest:-0}" -le 256 ] && [ "${longest:-0}" -gt 0 ] && echo "ok: an execute keeps what a command can use ($longest)" ||
  fail "an execute kept $longest characters"

# One program that opens a conversation from each of many windows (as DDEML does) takes
# 64 (its first connection and 63 more); another program still connects.
raw many 100 wait 2000 >"$scratch/many.out" &
many_pid=$!
for _ in $(seq 100); do grep -q many "$scratch/many.out" 2>/dev/null && break; sleep 0.1; done
expect "conversations are bounded per program" "many connected 63" "$(tr -d '\r' <"$scratch/many.out" | sed -n 2p)"
expect "another program is answered while one holds its share" "x2" "$(dde --timeout 2 request)"
wait "$many_pid"

# A second server of the same name (a Kelvor in another folder) keeps out of the way.
"$wine" "$build/dde_transport_host.exe" >"$scratch/second.out" 2>&1
expect "a second server does not start" "1" "$?"
expect "and says why" 'Another program already serves DDE as "Kelvor", so this Kelvor runs without its DDE server.' \
  "$(tr -d '\r' <"$scratch/second.out")"
expect "the first still answers" "x2" "$(dde --timeout 2 request)"

dde execute '[QUIT]' >/dev/null
wait "$host_pid" 2>/dev/null
host_pid=
[ "$failures" -eq 0 ] && echo "dde transport: all passed" || echo "dde transport: $failures failed"
exit $((failures > 0))
