#!/usr/bin/env bash
# Runs a command inside a private desktop: its own Xvfb display with the openbox window
# manager, a private D-Bus session and a PulseAudio server with a null sink, so that no test
# touches the user's screen, bus or speakers. Usage: tests/linux/headless.sh COMMAND [ARGS...]
set -euo pipefail

if [ -z "${KELVOR_HEADLESS_INNER:-}" ]; then
  export KELVOR_HEADLESS_INNER=1
  exec dbus-run-session -- "$0" "$@"
fi

display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

openbox >/dev/null 2>&1 &
wm_pid=$!

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR="$runtime"
chmod 700 "$runtime"
pulse_pid=""
if command -v pulseaudio >/dev/null; then
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false \
    -L "module-native-protocol-unix" -L "module-null-sink sink_name=kelvor_null" \
    >/dev/null 2>&1 &
  pulse_pid=$!
fi
sleep 0.5

cleanup() {
  for pid in $pulse_pid $wm_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT

"$@"
