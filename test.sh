#!/usr/bin/env bash
# Installs what is missing, builds both desks and runs every test headless: the fuzz targets'
# regression run (tools/fuzz.sh); the Linux desk's logic tests, then its window and
# end-to-end tests on a private X display, D-Bus session and sound server
# (tests/linux/headless.sh); the Windows desk, cross-built with mingw-w64 in build-windows/,
# its tests under a private Wine (tests/windows/wine.sh). Set KELVOR_SANITIZE=1 for an
# address/undefined sanitizer build of the Linux desk.
set -euo pipefail
cd "$(dirname "$0")"

./tools/install-deps.sh

# Compiler results are reused across clones of the tree (a CI run builds a fresh clone): ccache
# takes paths relative to the tree and leaves the build folder out of what it compares.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
reports=""
if [ "${KELVOR_SANITIZE:-0}" = 1 ]; then
  build=build-sanitize
  options=(-DCMAKE_BUILD_TYPE=Debug -DKELVOR_SANITIZE=ON)
  # Every sanitized process writes its reports here, the programs that the end-to-end tests
  # start included (their own output goes to logs the tests throw away); any report fails
  # the run. Leaks are checked; undefined behaviour stops the process like a memory error.
  reports="$PWD/$build/sanitizer-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:log_path=$reports/asan${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
fi

tools/check_core_includes.sh
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
# The Windows desk from the same core.
# Its end-to-end tests take the simulated instrument from the Linux build.
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=windows/toolchain-mingw.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVOR_LINUX_BUILD="$PWD/$build" -Wno-dev >/dev/null
cmake --build build-windows -j"$(nproc)"

export QT_QPA_PLATFORM=xcb
status=0
# The fuzz targets over their committed inputs and a few seconds beyond (a build of their
# own with clang in build-fuzz/), so an input that once broke a unit never returns.
env -u ASAN_OPTIONS -u UBSAN_OPTIONS tools/fuzz.sh || status=$?
# The logic and offscreen tests first, two at a time; then the tests that drive the real
# program on the private desktop, one at a time, so that their timing never competes with a
# busy neighbour.
tests/linux/headless.sh ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 -LE desktop || status=$?
tests/linux/headless.sh ctest --test-dir "$build" --output-on-failure --timeout 300 -L desktop || status=$?
# The Windows desk's tests (the core's among them) under Wine.
wine_started=$SECONDS
tests/windows/wine.sh build-windows ctest --test-dir build-windows --output-on-failure --timeout 300 || status=$?
echo "Windows tests under Wine: $((SECONDS - wine_started)) s"

if [ -n "$reports" ] && [ -n "$(ls -A "$reports")" ]; then
  for report in "$reports"/*; do
    echo "=== sanitizer report $report"
    cat "$report"
  done
  echo "Sanitizer reports: $(ls "$reports" | wc -l) (kept in $reports)" >&2
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
