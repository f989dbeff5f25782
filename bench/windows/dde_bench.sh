#!/bin/bash
# The Windows DDE and typing benchmark under Wine, as ratios in one run: ManualData requests a
# second from one and from four DDEML clients, connect-request-disconnect loops a second and
# the [WAITRS] delay of Kelvor.exe against the least a DDE server on a serial line can be
# (raw_dde_server), and the time Kelvor.exe takes to type a 127-character reading against one
# SendInput call with the same keys. The instrument answers each line it gets.
# Then what Kelvor.exe costs and how fast it is on its own, against its goals: the share of a
# core it takes (with the Wine server and the X server) with readings at 10 a second and no
# client, and at rest (reception stopped, no client); the delay from a reading on the line to
# its hot-link DATA, median and 95th percentile, alone and while two clients request flat out.
# The line there is a pair of pseudo-terminals wired together, so that the client writes the
# readings itself and times them on its own clock.
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
cpu_seconds=${BENCH_CPU_SECONDS:-30}
hotlink_trials=${BENCH_HOTLINK_TRIALS:-150}

e2e_scratch sim server kelvor receiver wire flood
bench() { "$wine" "$build/dde_bench.exe" "$@" | tr -d '\r' | awk '{ print $2 }'; }
bench_pair() { "$wine" "$build/dde_bench.exe" "$@" | tr -d '\r' | awk '{ print $2, $3 }'; }
unit=$(printf 'u%.0s' $(seq 119))  # "+012.50 " and this: 127 characters

setsid /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
"$ksim" --answer --format unit --unit "$unit" >sim.log 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q '^/dev/' sim.log && break; sleep 0.1; done
ln -sfn "$(head -1 sim.log)" "$WINEPREFIX/dosdevices/com1"

# The wire: two pseudo-terminals joined, one for the server's COM1, one for the client's
# COM2; on SIGUSR1 it writes a reading to the server's side ten times a second, on SIGUSR2
# it stops.
python3 -u - >wire.log 2>&1 <<'PY' &
import os, select, signal, time, tty
a_master, a_slave = os.openpty()
b_master, b_slave = os.openpty()
for fd in (a_slave, b_slave):
    tty.setraw(fd)
print(os.ttyname(a_slave))
print(os.ttyname(b_slave))
feeding = False
def feed(signum, frame):
    global feeding
    feeding = signum == signal.SIGUSR1
signal.signal(signal.SIGUSR1, feed)
signal.signal(signal.SIGUSR2, feed)
due = time.monotonic()
while True:
    try:
        ready, _, _ = select.select([a_master, b_master], [], [], 0.1)
    except InterruptedError:
        continue
    for fd in ready:
        try:
            data = os.read(fd, 4096)
        except OSError:
            continue
        os.write(b_master if fd == a_master else a_master, data)
    if feeding and time.monotonic() >= due:
        os.write(a_master, b"+012.50 mm\r")
        due = time.monotonic() + 0.1
PY
wire=$!
for _ in $(seq 50); do [ "$(wc -l <wire.log)" -ge 2 ] && break; sleep 0.1; done
wire_server=$(sed -n 1p wire.log)
wire_client=$(sed -n 2p wire.log)

# Clients at once: the sum of their rates.
together() {
  local n=$1 i total=0 pids=()
  shift
  for i in $(seq "$n"); do
    bench "$@" >"together.$i" &
    pids+=($!)
  done
  wait "${pids[@]}"
  for i in $(seq "$n"); do total=$((total + $(cat "together.$i" 2>/dev/null || echo 0))); done
  echo "$total"
}

# What Kelvor.exe costs: its user and system time, its Wine server's and the X server's.
kelvor_pid=""
# This prefix's server: its working folder is named after the prefix's device and inode.
server_dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
wineserver_pid=""
for p in $(pgrep wineserver); do
  [ "$(basename "$(readlink "/proc/$p/cwd")")" = "$server_dir" ] && wineserver_pid=$p
done
xvfb_pid=$(pgrep -f "^Xvfb $DISPLAY( |\$)" | head -1)
[ -n "$wineserver_pid" ] && [ -n "$xvfb_pid" ] || echo "dde_bench.sh: the Wine server or the X server not found" >&2
ticks() { local p; for p; do awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null || echo 0; done; }
# Percent of a core each of Kelvor.exe, the Wine server and the X server took over SECONDS.
cpu() {
  local before after
  mapfile -t before < <(ticks "$kelvor_pid" "$wineserver_pid" "$xvfb_pid")
  sleep "$1"
  mapfile -t after < <(ticks "$kelvor_pid" "$wineserver_pid" "$xvfb_pid")
  awk -v s="$1" -v hz="$(getconf CLK_TCK)" -v k="$((after[0] - before[0]))" -v w="$((after[1] - before[1]))" \
    -v x="$((after[2] - before[2]))" 'BEGIN { f = 100 / hz / s; printf "%.2f %.2f %.2f %.2f", (k + w + x) * f, k * f, w * f, x * f }'
}
# What the Wine server takes with no program of the benchmark running (Wine's own services).
read -r _ _ base_wine _ < <(cpu 15)

# The yardstick.
"$wine" "$build/raw_dde_server.exe" RawBench >server.log 2>&1 &
server=$!
sleep 2
raw_requests=$(bench requests RawBench "$seconds")
raw_requests4=$(together 4 requests RawBench "$seconds")
raw_connects=$(bench connects RawBench "$seconds")
raw_waitrs=$(bench waitrs RawBench "$trials")
# The least the wire and the client add to the line's delay to hot-link DATA.
ln -sfn "$wire_server" "$WINEPREFIX/dosdevices/com1"
ln -sfn "$wire_client" "$WINEPREFIX/dosdevices/com2"
kill "$server"
wait "$server" 2>/dev/null
"$wine" "$build/raw_dde_server.exe" RawBench >server.log 2>&1 &
server=$!
sleep 2
raw_hotlink=$(bench_pair hotlink RawBench COM2 "$hotlink_trials")
ln -sfn "$(head -1 sim.log)" "$WINEPREFIX/dosdevices/com1"
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
kelvor_requests4=$(together 4 requests Kelvor "$seconds")
kelvor_connects=$(bench connects Kelvor "$seconds")
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
kill "$receiver"
wait "$receiver" 2>/dev/null
receiver=

kelvor_pid=$kelvor
[ "$(cat "/proc/$kelvor_pid/comm" 2>/dev/null)" = Kelvor.exe ] || kelvor_pid=$(pgrep -P "$kelvor" | head -1)

# Kelvor.exe on the wire.
ln -sfn "$wire_server" "$WINEPREFIX/dosdevices/com1"
ln -sfn "$wire_client" "$WINEPREFIX/dosdevices/com2"
"$wine" "$build/kelvor-dde.exe" execute '[LOAD(BENCH.KLV)]'
"$wine" "$build/kelvor-dde.exe" execute '[RUN]'
hotlink=$(bench_pair hotlink Kelvor COM2 "$hotlink_trials")
flood_seconds=$(awk -v n="$hotlink_trials" 'BEGIN { printf "%d", n / 9 + 5 }')
flood=""
for i in 1 2; do "$wine" "$build/dde_bench.exe" requests Kelvor "$flood_seconds" >"flood.$i" 2>&1 & flood="$flood $!"; done
sleep 1
hotlink_flood=$(bench_pair hotlink Kelvor COM2 "$hotlink_trials")
# shellcheck disable=SC2086
wait $flood 2>/dev/null
flood=

# Wine processes that have just ended (the clients) keep the Wine server busy for a while.
kill -USR1 "$wire"
sleep 5
read -r reading_all reading_kelvor reading_wine reading_x < <(cpu "$cpu_seconds")
kill -USR2 "$wire"
"$wine" "$build/kelvor-dde.exe" execute '[STOP]'
sleep 5
read -r rest_all rest_kelvor rest_wine rest_x < <(cpu "$cpu_seconds")
load=$(cut -d' ' -f1-3 /proc/loadavg)

"$wine" "$build/kelvor-dde.exe" --timeout 2 execute '[APPCLOSE]' >/dev/null 2>&1
kelvor=

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
echo "ManualData requests a second, one DDEML client: Kelvor.exe $kelvor_requests, minimal raw server $raw_requests, ratio $(ratio "$kelvor_requests" "$raw_requests") (goal >= 0.8)"
echo "ManualData requests a second, four DDEML clients: Kelvor.exe $kelvor_requests4, minimal raw server $raw_requests4, ratio $(ratio "$kelvor_requests4" "$raw_requests4") (goal >= 0.8)"
echo "Connect, request, disconnect a second: Kelvor.exe $kelvor_connects, minimal raw server $raw_connects, ratio $(ratio "$kelvor_connects" "$raw_connects") (goal >= 0.9)"
echo "[WAITRS] delay, send to answer (median ms): Kelvor.exe $kelvor_waitrs, minimal raw server $raw_waitrs, ratio $(ratio "$kelvor_waitrs" "$raw_waitrs")"
echo "Typing a 127-character reading and Return (median ms): Kelvor.exe $kelvor_typing, one SendInput call $least_typing, ratio $(ratio "$kelvor_typing" "$least_typing")"
echo "Line to hot-link DATA (ms, median / 95th percentile): Kelvor.exe alone $(echo "$hotlink" | sed 's| | / |'), two clients requesting flat out $(echo "$hotlink_flood" | sed 's| | / |') (goal <= 12 / 25); minimal raw server, which reads the line every millisecond: $(echo "$raw_hotlink" | sed 's| | / |')"
echo "Share of a core with readings at 10 a second, no client (%): $reading_all in all (Kelvor.exe $reading_kelvor, Wine server $reading_wine, X $reading_x) (goal <= 1)"
echo "Share of a core at rest, reception stopped, no client (%): $rest_all in all (Kelvor.exe $rest_kelvor, Wine server $rest_wine, X $rest_x) (goal <= 0.1 for Kelvor.exe and the Wine server)"
echo "Share of a core the Wine server takes with none of the benchmark's programs running (Wine's own services, %): $base_wine"
echo "Machine load (1, 5, 15 min) at the end: $load on $(nproc) cores"
