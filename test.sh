#!/usr/bin/env bash
# Installs what is missing, builds Kelvor and runs every test headless: the logic tests,
# then the window and end-to-end tests on a private X display, D-Bus session and sound
# server (tests/headless.sh). Set KELVOR_SANITIZE=1 for an address/undefined sanitizer build.
set -euo pipefail
cd "$(dirname "$0")"

./tools/install-deps.sh

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${KELVOR_SANITIZE:-0}" = 1 ]; then
  build=build-sanitize
  options+=(-DKELVOR_SANITIZE=ON)
fi

cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

export QT_QPA_PLATFORM=xcb
tests/headless.sh ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
