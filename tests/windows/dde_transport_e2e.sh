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

dde execute '[QUIT]' >/dev/null
wait "$host_pid" 2>/dev/null
host_pid=
[ "$failures" -eq 0 ] && echo "dde transport: all passed" || echo "dde transport: $failures failed"
exit $((failures > 0))
