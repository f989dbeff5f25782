#!/usr/bin/env bash
# The whole road of a reading into a native Wayland window: a headless sway as the desktop
# (no X server at all), foot running `cat` into a file in raw mode as the focused window,
# kelvor-sim as the instrument, and Kelvor itself, whose strip then lives on Wayland and
# whose keystrokes go through the virtual keyboard. Readings must arrive byte for byte:
# every printable ASCII character with "µm 25°C" and "é€", under the us, de and fr layouts
# (sway's keyboards start with Caps Lock on), the structured records with their arrows, and,
# with a pause of 20 ms between keystrokes, a 127-character reading that takes at least
# 2.5 s. A screenshot of the strip is taken with grim. Before sway starts: with no display
# at all, Kelvor refuses cleanly whatever platform is asked for.
#
# sway refuses to run as root: as root, the test runs as the user kelvortest (created when
# missing) with its own runtime folder and session bus.
# Usage: wayland_typing_e2e.sh KELVOR KELVOR_DDE KELVOR_SIM [SCREENSHOT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != "--inner" ]; then
  for tool in sway foot grim swaymsg dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (tools/install-deps.sh)"; exit 77; }
  done
  work=$(mktemp -d)
  runtime=$(mktemp -d)
  trap 'rm -rf "$work" "$runtime"' EXIT
  # The programs and helpers are copied, so that a user without access to the build folder
  # can run them.
  mkdir -p "$work/tests/linux" "$work/resources/lang"
  cp "$1" "$2" "$3" "$work/"
  cp "$here/../e2e_lib.sh" "$work/tests/linux/"
  cp "$here/../../../resources/lang/english.lan" "$work/resources/lang/"
  cp "$0" "$here/check_readings.py" "$work/"
  chmod 700 "$runtime"
  run=()
  if [ "$(id -u)" -eq 0 ]; then
    id kelvortest >/dev/null 2>&1 || useradd -m kelvortest
    chown -R kelvortest "$work" "$runtime"
    run=(runuser -u kelvortest --)
  fi
  status=0
  "${run[@]}" env -i PATH="$PATH" HOME="$work" LANG=C.UTF-8 \
    dbus-run-session -- bash "$work/$(basename "$0")" --inner "$work" "$runtime" || status=$?
  [ -n "${4:-}" ] && [ -f "$work/strip.png" ] && cp "$work/strip.png" "$4"
  exit "$status"
fi

work=$2
export XDG_RUNTIME_DIR=$3
cd "$work"
source "$work/tests/linux/e2e_lib.sh"
unset DISPLAY

# With no display at all, whatever platform is asked for, Kelvor says so and exits with 1
# (Qt itself would abort).
for asked in "QT_QPA_PLATFORM=wayland" "QT_QPA_PLATFORM=xcb" "WAYLAND_DISPLAY=kelvor-nothing-here"; do
  status=0
  env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$asked" ./kelvor >nodisplay.log 2>&1 || status=$?
  [ "$status" = 1 ] && grep -q "needs a graphical desktop" nodisplay.log ||
    e2e_fail "with $asked and no display Kelvor ended with $status: $(cat nodisplay.log)"
done
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  swaymsg exit >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

# No Xwayland: Kelvor must do without an X server. Keyboards sway configures start with
# Caps Lock on.
cat >sway.config <<'EOF'
xwayland disable
output HEADLESS-1 resolution 1280x800
input type:keyboard xkb_capslock enabled
EOF
sway -c sway.config >sway.log 2>&1 &
pids+=($!)
for _ in $(seq 100); do compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" >/dev/null && break; sleep 0.1; done
SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" | head -1) || e2e_fail "sway did not start: $(tail -3 sway.log)"
export SWAYSOCK
WAYLAND_DISPLAY=$(basename "$(compgen -G "$XDG_RUNTIME_DIR/wayland-*" | grep -v lock | head -1)")
export WAYLAND_DISPLAY

# Waits until a window whose title matches is in sway's tree.
wait_window() {
  for _ in $(seq 100); do swaymsg -t get_tree | grep -q "\"name\": \"$1\"" && return 0; sleep 0.1; done
  e2e_fail "no window named $1 appeared"
}

ascii=$(printf '%s' ' !"#$%&'"'"'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\]^_`abcdefghijklmnopqrstuvwxyz{|}~')
unit="${ascii# } µm 25°C é€"
long=$(printf 'Kelvor%.0s' $(seq 20) | cut -c1-119)  # "+012.50 " and this: 127 characters

e2e_configuration PLAIN.KLV NAME=WAYLAND ENABLESENDKEY=1 PORT=0 BUFFERMODE=0
e2e_configuration RECORDS.KLV NAME=WAYLAND ENABLESENDKEY=1 PORT=1 BUFFERMODE=1
e2e_configuration DELAY.KLV NAME=WAYLAND ENABLESENDKEY=1 PORT=2 BUFFERMODE=0
printf '[KEYBOARD]\nDELAYMS=20\n' >>DELAY.KLV
e2e_workspace PLAIN.KLV "$work/com1" "$work/com2" "$work/com3"

./kelvor-sim --link "$work/com1" --format unit --unit "$unit" --interval 300 >sim1.log 2>&1 &
pids+=($!)
./kelvor-sim --link "$work/com2" --format record --unit mm --interval 250 >sim2.log 2>&1 &
pids+=($!)
./kelvor-sim --link "$work/com3" --format unit --unit "$long" --interval 4000 >sim3.log 2>&1 &
pids+=($!)

./kelvor >kelvor.log 2>&1 &
kelvor_pid=$!
pids+=($kelvor_pid)
# The splash closes at a click, as under X11; sway's seat can click without a mouse.
sleep 1.5
swaymsg 'seat seat0 cursor set 640 400' >/dev/null
swaymsg 'seat seat0 cursor press button1' >/dev/null
swaymsg 'seat seat0 cursor release button1' >/dev/null
for _ in $(seq 150); do ./kelvor-dde --timeout 1 request >/dev/null 2>&1 && break; sleep 0.1; done
./kelvor-dde --timeout 1 request >/dev/null 2>&1 || e2e_fail "Kelvor did not start: $(tail -5 kelvor.log)"
wait_window 'NORDAL - Kelvor'
grep -q "keystrokes: Wayland virtual keyboard" kelvor.log || e2e_fail "the virtual keyboard was not chosen: $(cat kelvor.log)"
grep -q "position is not restored" kelvor.log || e2e_fail "nothing said what Kelvor's windows lose on Wayland"
# The notice opens over the strip, both centred by sway: moved aside for the picture.
sleep 1
swaymsg '[title="^Kelvor$"] move position 380 200' >/dev/null || e2e_fail "the notice about Wayland did not show"
sleep 0.5
grim strip.png || e2e_fail "grim could not take the screenshot"

: >received
foot --title kelvor-typing-target sh -c "stty raw -echo; exec cat >> '$work/received'" >foot.log 2>&1 &
pids+=($!)
wait_window kelvor-typing-target
focus() { swaymsg '[title="^kelvor-typing-target$"] focus' >/dev/null; }
focus
sleep 0.5

run_for() {
  ./kelvor-dde execute '[RUN]' || e2e_fail "[RUN] was not acknowledged"
  sleep "$1"
  ./kelvor-dde execute '[STOP]' || e2e_fail "[STOP] was not acknowledged"
  sleep 0.4
}

check() {
  python3 ./check_readings.py received "$@" || e2e_fail "$1 [$layout]: readings did not arrive exactly (see above)"
  : >received
}

for layout in us de fr; do
  swaymsg "input type:keyboard xkb_layout $layout" >/dev/null
  focus
  run_for 1.6
  check plain 3 "$unit"
done

layout=fr
./kelvor-dde execute '[LOAD(RECORDS.KLV)]' || e2e_fail "[LOAD( was not acknowledged"
focus
run_for 2.2
check records 6

# A pause of 20 ms between keystrokes: the 127 characters and Return take 2.54 s at least,
# while Kelvor goes on answering.
layout=us
./kelvor-dde execute '[LOAD(DELAY.KLV)]' || e2e_fail "[LOAD( was not acknowledged"
focus
expected="+012.50 $long"$'\r'  # its length
./kelvor-dde execute '[RUN]' || e2e_fail "[RUN] was not acknowledged"
first="" last="" answered=0
deadline=$((SECONDS + 15))
while [ $SECONDS -lt $deadline ]; do
  size=$(stat -c %s received)
  now=$(date +%s.%N)
  [ -z "$first" ] && [ "$size" -gt 0 ] && first=$now
  if [ "$size" -ge ${#expected} ]; then last=$now; break; fi
  if [ -n "$first" ] && ./kelvor-dde --timeout 1 request >/dev/null 2>&1; then answered=$((answered + 1)); fi
  sleep 0.01
done
./kelvor-dde execute '[STOP]' >/dev/null || true
[ -n "$last" ] || e2e_fail "the 127-character reading did not arrive: $(od -c received | head -5)"
# Another reading may have begun to arrive meanwhile; the first one must be whole (its value
# is whatever the instrument had reached).
[[ "$(head -c ${#expected} received)" =~ ^\+0[0-9][0-9]\.[0-9][0-9]\ ${long}$'\r'$ ]] ||
  e2e_fail "the reading typed with a delay differs: $(od -c received | head -12)"
took=$(echo "$last - $first" | bc -l)
echo "127 characters with 20 ms between keystrokes: from the first to the last in $took s; $answered DDE requests answered meanwhile"
[ "$(echo "$took >= 2.5" | bc -l)" = 1 ] || e2e_fail "typing with a 20 ms delay took only $took s"
[ "$answered" -ge 5 ] || e2e_fail "DDE requests were not answered while the reading was being typed"

kill -0 "$kelvor_pid" 2>/dev/null || e2e_fail "Kelvor ended: $(tail -5 kelvor.log)"
echo "PASS"
