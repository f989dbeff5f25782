#!/usr/bin/env bash
# Builds Kelvor and starts it in demo/, a working folder of its own (git-ignored) with the
# shipped language files, sounds and a sample configuration, reading from the simulated
# instrument kelvor-sim on COM1. Installs what is missing first (apt).
set -euo pipefail
cd "$(dirname "$0")"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Kelvor needs a graphical desktop, and none was found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
  echo "Run ./run.sh from a terminal inside your desktop session." >&2
  exit 1
fi

./tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kelvor kelvor-sim kelvor-dde

mkdir -p demo/sound
cp resources/lang/*.lan demo/
cp resources/sound/*.wav demo/sound/
[ -f demo/DEMO.KLV ] || cp resources/demo/DEMO.KLV demo/
if [ ! -f demo/KELVOR.INI ]; then
  cat > demo/KELVOR.INI <<INI
[FILECONFIG]
RS232=$PWD/demo/DEMO.KLV
[TRANSLATE]
FILENAME=$PWD/demo/english.lan
[PORTS]
COM1=$PWD/demo/instrument
INI
fi

# The simulated balance: a reading every second on a pseudo-terminal reached through the
# stable link demo/instrument.
sim_pid=""
if [ -x build/kelvor-sim ]; then
  build/kelvor-sim --link "$PWD/demo/instrument" --interval 1000 --format unit >/dev/null &
  sim_pid=$!
  trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null' EXIT
fi

cd demo
../build/kelvor
