#!/usr/bin/env bash
# Typing speed on a Wayland desktop: a 127-character reading plus Return typed through
# Kelvor's virtual keyboard into foot (raw mode, cat into a file) on a headless sway,
# counted until the whole reading has landed there exactly, beside `wtype` on the same
# compositor; then the XTest figure of bench/keystroke_typing.sh on Xvfb, in the same run.
# Kelvor's keyboard lives for the whole run (as in the program, where it is made at start);
# wtype is a process per reading, as a user would run it. Each figure is the median of
# several runs. sway refuses root: as root, the Wayland part runs as the user kelvortest.
# Usage: bench/wayland_typing.sh PATH/TO/type_frame [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != "--inner" ]; then
  type_frame=$(realpath "$1")
  runs=${2:-5}
  work=$(mktemp -d)
  runtime=$(mktemp -d)
  trap 'rm -rf "$work" "$runtime"' EXIT
  cp "$type_frame" "$0" "$here/typing_timer.sh" "$work/"
  chmod 700 "$runtime"
  run=()
  if [ "$(id -u)" -eq 0 ]; then
    id kelvortest >/dev/null 2>&1 || useradd -m kelvortest
    chown -R kelvortest "$work" "$runtime"
    run=(runuser -u kelvortest --)
  fi
  "${run[@]}" env -i PATH="$PATH" HOME="$work" LANG=C.UTF-8 \
    bash ${KELVOR_BENCH_TRACE:+-x} "$work/$(basename "$0")" --inner "$work" "$runtime" "$runs"
  echo "--- XTest on Xvfb, same run:"
  bash "$here/keystroke_typing.sh" "$type_frame" "$runs" | grep -E "frame:|XTest|xdotool"
  exit 0
fi

work=$2 runs=$4
export XDG_RUNTIME_DIR=$3 WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
cd "$work"
unset DISPLAY
printf 'xwayland disable\noutput HEADLESS-1 resolution 1280x800\n' >sway.config
sway -c sway.config >sway.log 2>&1 &
sway_pid=$!
for _ in $(seq 100); do compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" >/dev/null && break; sleep 0.1; done
export SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" | head -1)
export WAYLAND_DISPLAY=$(basename "$(compgen -G "$XDG_RUNTIME_DIR/wayland-*" | grep -v lock | head -1)")
out="$work/received"
: >"$out"
foot --title kelvor-bench sh -c "stty raw -echo; exec cat >> '$out'" >foot.log 2>&1 &
foot_pid=$!
trap 'kill $foot_pid ${typer_pid:-} $sway_pid 2>/dev/null; wait 2>/dev/null; true' EXIT
for _ in $(seq 100); do swaymsg -t get_tree | grep -q '"name": "kelvor-bench"' && break; sleep 0.1; done

# The reading of bench/keystroke_typing.sh: digits, signs, letters of both cases, units.
base='+0012.345 mm DIA/OK; -7.5e-3 Ohm, T=23.4C [ch 12] Max<98.6> #5 @ 10:45:01 REF_a|b ~ok'
frame=$(printf "%s%s" "$base" "$base" | cut -c1-126)Z
expected="$frame"$'\r'
source "$here/typing_timer.sh"

# One keyboard for the whole run, fed through two pipes (a coprocess's would not reach the
# subshells that time each reading).
mkfifo to_typer from_typer
./type_frame --keyboard wayland --serve <to_typer >from_typer 2>type_frame.log &
typer_pid=$!
exec 3>to_typer 4<from_typer
type_kelvor() {
  printf '0 %s\n' "$frame" >&3
  local answer
  read -r -t 20 answer <&4 || { echo "type_frame: $(cat type_frame.log)" >&2; exit 1; }
}
type_kelvor  # the keyboard's first reading also lets foot meet the new keyboard
sleep 0.3
kelvor_time=$(for _ in $(seq "$runs"); do time_one type_kelvor; done | median)
wtype_time=$(for _ in $(seq "$runs"); do time_one wtype "$expected"; done | median)
printf 'frame: 127 characters + Return into foot on headless sway, median of %d runs\n' "$runs"
printf 'kelvor virtual keyboard: %8.0f characters/s (%.3f s)\n' "$(echo "127 / $kelvor_time" | bc -l)" "$kelvor_time"
printf 'wtype:                   %8.0f characters/s (%.3f s)\n' "$(echo "127 / $wtype_time" | bc -l)" "$wtype_time"
printf 'ratio kelvor/wtype:      %8.1f\n' "$(echo "$wtype_time / $kelvor_time" | bc -l)"
