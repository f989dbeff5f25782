#!/usr/bin/env bash
# What the Linux desk costs at rest: the share of a core the real program takes with
# reception stopped and no client (user and system time from /proc over SECONDS), and, for
# scale, the same with readings at 10 a second from the simulated instrument. Run it under
# tests/linux/headless.sh (it needs a display and a session bus):
#   tests/linux/headless.sh bench/rest_cpu.sh build
# Goal at rest: at most 0.1 % of a core.
set -euo pipefail
build=$(readlink -f "${1:-build}")
seconds=${BENCH_CPU_SECONDS:-30}
source "$(dirname "$0")/../tests/linux/e2e_lib.sh"
e2e_scratch pid sim
"$build/kelvor-sim" --interval 100 >sim.log 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q '^/dev/' sim.log && break; sleep 0.1; done
e2e_configuration TEST.KLV NAME=TEST
e2e_workspace TEST.KLV "$(head -1 sim.log)"
kdde="$build/kelvor-dde"

"$build/kelvor" >kelvor.log 2>&1 &
pid=$!
e2e_close_splash
e2e_wait_window '^NORDAL - Kelvor$' >/dev/null
for _ in $(seq 100); do "$kdde" --timeout 1 request >/dev/null 2>&1 && break; sleep 0.1; done
sleep 2

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
# Percent of a core the program took over SECONDS.
cpu() {
  local before
  before=$(ticks)
  sleep "$seconds"
  awk -v t="$(($(ticks) - before))" -v hz="$(getconf CLK_TCK)" -v s="$seconds" 'BEGIN { printf "%.2f", t * 100 / hz / s }'
}
rest=$(cpu)
"$kdde" execute '[RUN]'
sleep 2
running=$(cpu)
"$kdde" execute '[STOP]'
"$kdde" --timeout 2 execute '[APPCLOSE]' >/dev/null 2>&1 || true
echo "Share of a core, Linux desk, over $seconds s: at rest (reception stopped, no client) $rest % (goal <= 0.1);" \
  "readings at 10 a second, no client $running %"
echo "Machine load (1, 5, 15 min): $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
