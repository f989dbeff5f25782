#!/usr/bin/env bash
# Runs a command (ctest, a test script) with a private Wine: its own prefix in the Windows
# build folder, its own X display, and its Wine server started detached beforehand, since a
# server started under ctest would inherit ctest's output and ctest would wait for it for ever.
#   tests/windows/wine.sh BUILD_DIR COMMAND [ARGS...]
set -euo pipefail
build=$(cd "$1" && pwd)
shift

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export WINE="$wine"

display=""
for n in $(seq 40 99); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display

stop() {
  "$wineserver" -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap stop EXIT

for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
mkdir -p "$WINEPREFIX"
setsid "$wineserver" -p </dev/null >/dev/null 2>&1
setsid "$wine" wineboot -u </dev/null >/dev/null 2>&1 || true
status=0
"$@" || status=$?
exit "$status"
