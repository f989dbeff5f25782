#!/usr/bin/env bash
# Typing speed: characters per second for a 127-character frame typed into an xterm (raw
# mode, cat into a file), counted until the whole frame has landed there exactly; Kelvor's
# XTest keyboard side by side with `xdotool type` at its default 12 ms delay, on the same
# display and layout. Each figure is the median of several runs, process start included.
# Usage: bench/keystroke_typing.sh PATH/TO/type_frame [RUNS]
# Without a display it runs itself inside tests/linux/headless.sh.
set -euo pipefail

type_frame=$(realpath "$1")
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec "$here/../tests/linux/headless.sh" bash "$0" "$type_frame" "$runs"
fi

work=$(mktemp -d)
out="$work/received"
: >"$out"
xterm -u8 -T kelvor-bench-$$ -e sh -c "stty raw -echo; exec cat >> '$out'" 2>/dev/null &
xterm_pid=$!
trap 'kill $xterm_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
window=$(xdotool search --sync --onlyvisible --name "kelvor-bench-$$" | head -1)
# The window can be found a moment before it may take the focus.
for _ in $(seq 50); do xdotool windowfocus --sync "$window" 2>/dev/null && break; sleep 0.1; done
setxkbmap us
sleep 0.3

# 127 characters of what instruments send: digits, signs, letters of both cases, units.
base='+0012.345 mm DIA/OK; -7.5e-3 Ohm, T=23.4C [ch 12] Max<98.6> #5 @ 10:45:01 REF_a|b ~ok'
frame=$(printf "%s%s" "$base" "$base" | cut -c1-126)Z  # ends in a non-blank: trailing blanks are never typed
[ ${#frame} -eq 127 ] || { echo "frame is ${#frame} characters"; exit 1; }
expected="$frame"$'\r'

source "$here/typing_timer.sh"

kelvor_times=$(for _ in $(seq "$runs"); do time_one "$type_frame" 0 "$frame"; done | median)
xdotool_times=$(for _ in $(seq "$runs"); do time_one xdotool type --delay 12 "$expected"; done | median)

kelvor_cps=$(echo "127 / $kelvor_times" | bc -l)
xdotool_cps=$(echo "127 / $xdotool_times" | bc -l)
printf 'frame: 127 characters + Return, layout us, median of %d runs\n' "$runs"
printf 'kelvor XTest keyboard: %8.0f characters/s (%.3f s)\n' "$kelvor_cps" "$kelvor_times"
printf 'xdotool type (12 ms):  %8.0f characters/s (%.3f s)\n' "$xdotool_cps" "$xdotool_times"
printf 'ratio kelvor/xdotool:  %8.1f\n' "$(echo "$kelvor_cps / $xdotool_cps" | bc -l)"
