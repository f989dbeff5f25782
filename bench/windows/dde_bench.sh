#!/bin/bash
# The Windows DDE and typing benchmark under Wine, as ratios in one run: ManualData requests a
# second and the [WAITRS] delay of Kelvor.exe against the least a DDE server on a serial line
# can be (raw_dde_server), and the time Kelvor.exe takes to type a 127-character reading
# against one SendInput call with the same keys. The instrument answers each line it gets.
#
# Usage: tests/windows/wine.sh build-windows bench/windows/dde_bench.sh build-windows build/kelvor-sim
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tests/linux/e2e_lib.sh"
build=$(readlink -f "$1")
ksim=$(readlink -f "$2")
wine=${WINE:-/usr/lib/wine/wine64}
seconds=${BENCH_SECONDS:-5}
trials=${BENCH_TRIALS:-15}

e2e_scratch sim server kelvor receiver
bench() { "$wine" "$build/dde_bench.exe" "$@" | tr -d '\r' | awk '{ print $2 }'; }
unit=$(printf 'u%.0s' $(seq 119))  # "+012.50 " and this: 127 characters

setsid /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
"$ksim" --answer --format unit --unit "$unit" >sim.log 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q '^/dev/' sim.log && break; sleep 0.1; done
ln -sfn "$(head -1 sim.log)" "$WINEPREFIX/dosdevices/com1"

# The yardstick.
"$wine" "$build/raw_dde_server.exe" RawBench >server.log 2>&1 &
server=$!
sleep 2
raw_requests=$(bench requests RawBench "$seconds")
raw_waitrs=$(bench waitrs RawBench "$trials")
kill "$server"
wait "$server" 2>/dev/null
server=

# Kelvor.exe with the same line.
e2e_configuration BENCH.KLV NAME=BENCH PORT=0
e2e_configuration TYPE.KLV NAME=TYPE PORT=0 ENABLESENDKEY=1
cp "$here/../../resources/lang/english.lan" .
printf '[FILECONFIG]\r\nRS232=BENCH.KLV\r\n[TRANSLATE]\r\nFILENAME=english.lan\r\n' >KELVOR.INI
"$wine" "$build/Kelvor.exe" >kelvor.log 2>&1 &
kelvor=$!
"$wine" "$build/window_driver.exe" wait class:KelvorSplash click class:KelvorSplash wait 'NORDAL - Kelvor' >/dev/null
sleep 1
"$wine" "$build/kelvor-dde.exe" execute '[RUN]'
kelvor_requests=$(bench requests Kelvor "$seconds")
kelvor_waitrs=$(bench waitrs Kelvor "$trials")

# Typing into the receiver window.
: >received
"$wine" "$build/key_receiver.exe" "Z:${work//\//\\}\\received" >receiver.log 2>&1 &
receiver=$!
"$wine" "$build/window_driver.exe" wait 'Key receiver' >/dev/null
"$wine" "$build/kelvor-dde.exe" execute '[LOAD(TYPE.KLV)]'
"$wine" "$build/kelvor-dde.exe" execute '[RUN]'
kelvor_typing=$(bench typed Kelvor "Z:${work//\//\\}\\received" 5)
"$wine" "$build/kelvor-dde.exe" execute '[STOP]'
least_typing=$(bench type "Z:${work//\//\\}\\received" 127 5)
"$wine" "$build/kelvor-dde.exe" --timeout 2 execute '[APPCLOSE]' >/dev/null 2>&1
kelvor=

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
echo "ManualData requests a second: Kelvor.exe $kelvor_requests, minimal raw server $raw_requests, ratio $(ratio "$kelvor_requests" "$raw_requests")"
echo "[WAITRS] delay, send to answer (median ms): Kelvor.exe $kelvor_waitrs, minimal raw server $raw_waitrs, ratio $(ratio "$kelvor_waitrs" "$raw_waitrs")"
echo "Typing a 127-character reading and Return (median ms): Kelvor.exe $kelvor_typing, one SendInput call $least_typing, ratio $(ratio "$kelvor_typing" "$least_typing")"
