#!/usr/bin/env bash
# The soak run: the real program for a chosen time under everything it serves at once, on a
# private desktop (tests/linux/headless.sh). kelvor-sim sends numbered readings ("0000123 g") at
# 40 a second; Kelvor types each into a focused xterm that records what arrives; four D-Bus
# clients request ManualData all the while (two of them arm each request with [WAITRS]) and
# one is hot-linked to AutoData.
#
# It reports the readings sent and typed (every one exactly once, in order, uncorrupted),
# the answers that were not a whole reading, resident memory and open descriptors at the
# start and the end, and CPU per reading; the reading log ([LOG] ENABLE in KELVOR.INI) is
# checked like the typed readings wherever it exists. Exit status 1 when a check fails.
# Not part of ./test.sh.
#
# Usage: tools/soak.sh [MINUTES]   (default 10; the programs come from build/, built if missing)
# What arrived stays in build/soak/ for a look afterwards (progress: typed readings and the
# machine's load, second by second).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:-10}
[[ $minutes =~ ^[0-9]+$ ]] && [ "$minutes" -ge 1 ] || { echo "usage: tools/soak.sh [MINUTES]" >&2; exit 2; }

if [ -z "${KELVOR_HEADLESS_INNER:-}" ]; then
  if [ ! -x "$root/build/kelvor" ] || [ ! -x "$root/build/kelvor-sim" ] || [ ! -x "$root/build/kelvor-dde" ]; then
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build" -j"$(nproc)" --target kelvor kelvor-sim kelvor-dde
  fi
  exec "$root/tests/linux/headless.sh" "$0" "$@"
fi

source "$root/tests/linux/e2e_lib.sh"
kelvor=$root/build/kelvor
kdde=$root/build/kelvor-dde
ksim=$root/build/kelvor-sim
rate=40
unit=g
warmup=20  # seconds of reception before the start figures are taken
readings=$((minutes * 60 * rate))

work=$root/build/soak
rm -rf "$work"
mkdir -p "$work"
cd "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

e2e_configuration SOAK.KLV NAME=SOAK ENABLESENDKEY=1 ENABLESERVERDDE=1 SENDORREQUEST=0 SELECTENDOF=1 ENDOFCHAR=1
e2e_workspace SOAK.KLV "$work/instrument"
printf '[LOG]\nENABLE=1\n' >>KELVOR.INI

"$kelvor" >kelvor.log 2>&1 &
kelvor_pid=$!
pids+=("$kelvor_pid")
e2e_close_splash
e2e_wait_window '^NORDAL - Kelvor$' >/dev/null
for _ in $(seq 100); do "$kdde" --timeout 1 request >/dev/null 2>&1 && break; sleep 0.1; done

# The hot-linked client first: the advise shows its "Autodata:" message, which waits for a
# person; close it as one would, before the receiving window takes the focus.
"$kdde" advise >advise 2>advise.err &
pids+=($!)
message=$(e2e_wait_window '^!$' 10) || e2e_fail "no Autodata: message window"
xdotool mousemove --window "$message" 300 120 click 1
e2e_wait_gone '^!$' 10 || e2e_fail "the Autodata: message did not close"

: >typed
xterm -u8 -T kelvor-soak-target -e sh -c "stty raw -echo; exec cat >> '$work/typed'" 2>/dev/null &
pids+=($!)
target=$(e2e_wait_window '^kelvor-soak-target$')
for _ in $(seq 50); do xdotool windowfocus --sync "$target" 2>/dev/null && break; sleep 0.1; done

# The instrument sends its readings and then stays, so that the port never hangs up while
# reception runs. What it sent before [RUN] opened the port is flushed by the opening.
"$ksim" --link "$work/instrument" --format counter --unit "$unit" --rate "$rate" --count "$readings" \
  --linger 3600000 >sim.log 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -L instrument ] && break; sleep 0.1; done
[ -L instrument ] || e2e_fail "kelvor-sim did not create its link"
"$kdde" execute '[RUN]' || e2e_fail "[RUN] was not acknowledged"
started=$SECONDS

# Four requesting clients, two of which arm each request with [WAITRS].
# Each answer goes on its own line; a failed call leaves a line "FAILED <status>".
requester() {
  local armed=$1 log=$2 status
  while :; do
    if [ "$armed" = 1 ]; then "$kdde" execute '[WAITRS]' >/dev/null 2>&1 || true; fi
    status=0
    "$kdde" --timeout 10 request >>"$log" 2>/dev/null || status=$?
    [ "$status" = 0 ] || echo "FAILED $status" >>"$log"
    sleep 0.2
  done
}
for n in 1 2 3 4; do
  requester $((n % 2)) "requests$n" &
  pids+=($!)
done

# Process figures of Kelvor: resident kB, open descriptors, CPU ticks.
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$kelvor_pid/status"; }
fds() { ls "/proc/$kelvor_pid/fd" | wc -l; }
ticks() { awk '{print $14 + $15}' "/proc/$kelvor_pid/stat"; }
typed_count() { tr -cd '\r' <typed | wc -c; }

sleep "$warmup"
rss_start=$(rss) fds_start=$(fds) ticks_start=$(ticks) typed_start=$(typed_count)

# Until the instrument has sent all its readings, then until the typing has caught up.
# Every second: readings typed so far and the machine's load, so that a stall shows when.
while [ $((SECONDS - started)) -lt $((readings / rate)) ]; do
  kill -0 "$kelvor_pid" 2>/dev/null || e2e_fail "Kelvor ended during the soak (see $work/kelvor.log)"
  echo "$((SECONDS - started)) s: $(typed_count) typed, load $(cut -d' ' -f1-3 /proc/loadavg)" >>progress
  sleep 1
done
# The instrument may run late on a busy machine: wait (a minute at most) for its last reading.
last_reading=$(printf '%07d %s' $((readings - 1)) "$unit")
for _ in $(seq 60); do
  grep -qF "$last_reading" typed && break
  sleep 1
done
last=-1
for _ in $(seq 30); do
  now=$(typed_count)
  [ "$now" = "$last" ] && break
  last=$now
  sleep 1
done
rss_end=$(rss) fds_end=$(fds) ticks_end=$(ticks) typed_end=$(typed_count)
"$kdde" execute '[STOP]' >/dev/null 2>&1 || true
cleanup
trap - EXIT

python3 - "$readings" "$unit" "$rss_start" "$rss_end" "$fds_start" "$fds_end" \
  "$((ticks_end - ticks_start))" "$((typed_end - typed_start))" "$(getconf CLK_TCK)" <<'PY'
import glob, os, re, sys
sent, unit = int(sys.argv[1]), sys.argv[2]
rss0, rss1, fd0, fd1, ticks, counted, hz = map(int, sys.argv[3:])
reading = re.compile(r"^(\d{7}) " + re.escape(unit) + "$")
failures = []

def check_sequence(name, pieces):
    """Every reading from the first seen to the last sent, exactly once, in order."""
    numbers, corrupted = [], 0
    for piece in pieces:
        m = reading.match(piece)
        if m:
            numbers.append(int(m.group(1)))
        else:
            corrupted += 1
    first = numbers[0] if numbers else sent
    expected = list(range(first, sent))
    seen = set(numbers)
    lost = len([n for n in expected if n not in seen])
    doubled = len(numbers) - len(seen)
    disorder = sum(1 for a, b in zip(numbers, numbers[1:]) if b <= a)
    print(f"{name}: {len(numbers)} readings of the {len(expected)} sent while reception ran "
          f"(from reading {first}; {first} sent before [RUN] opened the port and were flushed); "
          f"lost {lost}, doubled {doubled}, out of order {disorder}, corrupted {corrupted}")
    if not numbers or lost or doubled or disorder or corrupted or first > 80:
        failures.append(name)
        for piece in [p for p in pieces if not reading.match(p)][:5]:
            print(f"  corrupted: {piece!r}")

typed = open("typed", "rb").read().decode("utf-8", "replace")
pieces = typed.split("\r")
if pieces and pieces[-1] == "":
    pieces.pop()
check_sequence("typed", pieces)

answers, failed, unanswered, partial, empty_before = 0, 0, 0, [], 0
for n in range(1, 5):
    got_reading = False
    for line in open(f"requests{n}", encoding="utf-8", errors="replace").read().split("\n")[:-1]:
        if line == "FAILED 3":
            unanswered += 1
            continue
        if line.startswith("FAILED"):
            failed += 1
            continue
        answers += 1
        text = line.rstrip(" ")
        if reading.match(text):
            got_reading = True
        elif text == "" and not got_reading:
            empty_before += 1
        else:
            partial.append(text)
# A write of ManualData answers one pending request, the newest conversation's: a request
# left waiting behind another client's [WAITRS] is answered only when a write reaches it,
# which newer clients' requests can put off past the client's time-out. Counted, not failed.
print(f"requests: {answers} answered ({empty_before} blank ones before the first reading), "
      f"{len(partial)} not a whole reading, {unanswered} not answered within 10 s, {failed} refused")
for text in partial[:5]:
    print(f"  not a whole reading: {text!r}")
if partial or failed:
    failures.append("requests")

advised = [l.rstrip(" ") for l in open("advise", encoding="utf-8", errors="replace").read().split("\n")[:-1]]
advised = [l for l in advised if l != ""]
bad = [l for l in advised if not reading.match(l)]
numbers = [int(reading.match(l).group(1)) for l in advised if reading.match(l)]
backwards = sum(1 for a, b in zip(numbers, numbers[1:]) if b <= a)
print(f"hot link: {len(advised)} updates, {len(bad)} not a whole reading, {backwards} not newer than the one before")
if bad or backwards or not advised:
    failures.append("hot link")

logs = sorted(glob.glob("readings/**/*", recursive=True))
logs = [f for f in logs if os.path.isfile(f)]
if logs:
    # One reading a line; a line may show it twice (as received and as handed on), so only
    # its first appearance counts.
    logged = []
    for f in logs:
        for line in open(f, encoding="utf-8", errors="replace"):
            found = re.search(r"\d{7} " + re.escape(unit), line)
            if found:
                logged.append(found.group(0))
    check_sequence("reading log", logged)
else:
    print("reading log: none written (this build has no [LOG])")

cpu_ms = ticks * 1000.0 / hz
print(f"memory: {rss0} kB at the start, {rss1} kB at the end ({(rss1 - rss0) / 1024:+.2f} MB)")
print(f"descriptors: {fd0} at the start, {fd1} at the end")
if counted > 0:
    print(f"CPU: {cpu_ms / 1000:.1f} s for {counted} readings typed, {cpu_ms / counted:.2f} ms a reading")
if rss1 - rss0 >= 2048:
    failures.append("memory")
if fd1 > fd0:
    failures.append("descriptors")
print("SOAK PASSED" if not failures else "SOAK FAILED: " + ", ".join(failures))
sys.exit(1 if failures else 0)
PY
