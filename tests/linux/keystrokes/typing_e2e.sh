#!/usr/bin/env bash
# End to end: frames typed through the real XTest keyboard arrive exactly in another
# program. An xterm in raw mode runs cat into a file and holds the focus; for each keyboard
# layout (us, de, fr AZERTY, us dvorak), with Caps Lock and Num Lock on and with a modifier
# held by another program, the plain form and every structured record must land byte for
# byte (Return as CR, the arrows as their escape sequences), characters missing from the
# layout included; then with two layouts loaded and the second one active, and with a
# keymap that leaves no keycode free for a missing character. Afterwards no key may be left pressed, the locks must be as they were and
# the keymap unchanged. Usage: typing_e2e.sh TYPE_FRAME KEY_STATE  (the two test programs;
# needs DISPLAY, else skips)
set -uo pipefail

type_frame=$1
key_state=$2
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  echo "no X display: run under tests/linux/headless.sh"
  exit 77
fi

work=$(mktemp -d)
out="$work/received"
: >"$out"
xterm -u8 -T kelvor-receiver-$$ -e sh -c "stty raw -echo; exec cat >> '$out'" 2>/dev/null &
xterm_pid=$!
trap 'kill $xterm_pid ${TYPER_PID:-} 2>/dev/null; wait 2>/dev/null; setxkbmap us; rm -rf "$work"' EXIT

window=$(xdotool search --sync --onlyvisible --name "kelvor-receiver-$$" | head -1)
# The window can be found a moment before it may take the focus.
for _ in $(seq 50); do xdotool windowfocus --sync "$window" 2>/dev/null && break; sleep 0.1; done
sleep 0.3

# One keyboard for the whole run, so that it must follow every setxkbmap by itself.
coproc TYPER { "$type_frame" --serve; }
typef() {
  # The focus is taken back before each frame, in case another window took it meanwhile.
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  printf '%s %s\n' "$1" "$2" >&"${TYPER[1]}"
  local answer
  read -r -t 20 answer <&"${TYPER[0]}" || { echo "FAIL: type_frame did not answer"; exit 1; }
}

failures=0
ESC=$'\e'
RIGHT="$ESC[C"
LEFT="$ESC[D"

# Waits until the file holds as many bytes as expected (or 5 seconds pass), then compares.
expect_received() {
  local what=$1 expected=$2
  local want=${#expected}
  local have=0
  LC_ALL=C want=$(printf '%s' "$expected" | wc -c)
  for _ in $(seq 100); do
    have=$(stat -c %s "$out")
    [ "$have" -ge "$want" ] && break
    sleep 0.05
  done
  sleep 0.1
  if ! cmp -s "$out" <(printf '%s' "$expected"); then
    echo "FAIL [$layout_name] $what"
    echo "  expected: $(printf '%s' "$expected" | od -An -c | tr -s ' ' | head -c 600)"
    echo "  received: $(od -An -c "$out" | tr -s ' ' | head -c 600)"
    failures=$((failures + 1))
  fi
  : >"$out"
}

ascii=$(printf '%s' ' !"#$%&'"'"'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\]^_`abcdefghijklmnopqrstuvwxyz{|}~')

check_all_forms() {
  typef 0 "12.5"
  expect_received "plain form" $'12.5\r'

  typef 0 "$ascii"
  expect_received "every printable ASCII character" "$ascii"$'\r'

  typef 0 "é µ ° € É ß Ω ñ"
  expect_received "characters outside the layout (UTF-8 frame)" $'é µ ° € É ß Ω ñ\r'

  typef 0 $'25\xb0C 3\xb5m \x80 caf\xe9'
  expect_received "Windows-1252 frame" $'25°C 3µm € café\r'

  typef 0 $'a\tb\x01c'
  expect_received "TAB is Tab, other control characters are not typed" $'a\tbc\r'

  typef 1 "P01 DIA    0.123   OK"
  expect_received "measurement record" "P01${RIGHT}DIA       ${RIGHT}0.123${RIGHT}OK"$'\r'"$LEFT$LEFT$LEFT"

  typef 1 "P01AB+0.250 mm      ="
  expect_received "result record" "P01${RIGHT}AB+0.250 mm     ${RIGHT}Good"$'\r'"$LEFT$LEFT"

  typef 1 "P02 CMT probe changed"
  expect_received "comment record" "P02${RIGHT}CMT probe changed             "$'\r'"$LEFT"

  typef 1 "P03*whatever"
  typef 0 "x"
  expect_received "star record types nothing" $'x\r'
}

# Fails unless the locked modifiers are exactly $1 and no key is held down.
expect_state() {
  local state
  state=$("$key_state" | head -2)
  if [ "$state" != "$(printf 'locked:%s\ndown:' "$1")" ]; then
    echo "FAIL [$layout_name] after typing, expected locks '$1' and no key down; state: $(echo $state)"
    failures=$((failures + 1))
  fi
}

for layout in "us" "de" "fr" "us dvorak"; do
  layout_name=$layout
  # shellcheck disable=SC2086
  set -- $layout
  setxkbmap "$1" ${2:+-variant "$2"}
  sleep 0.2
  xkbcomp -xkb "$DISPLAY" "$work/keymap-before" 2>/dev/null
  check_all_forms
  expect_state ""

  layout_name="$layout, Caps Lock and Num Lock on"
  xdotool key Caps_Lock Num_Lock
  check_all_forms
  expect_state " lock mod2"
  xdotool key Caps_Lock Num_Lock

  layout_name="$layout, Shift held by another program"
  xdotool keydown Shift_L
  typef 0 "ab°c"
  expect_received "held Shift does not change the text" $'ab°c\r'
  expect_state ""
  # Nothing may stay pressed: a lower-case letter typed by another program arrives as such.
  xdotool type --delay 20 "q"
  expect_received "no modifier left pressed" "q"

  xkbcomp -xkb "$DISPLAY" "$work/keymap-after" 2>/dev/null
  cmp -s "$work/keymap-before" "$work/keymap-after" ||
    { echo "FAIL [$layout] keymap changed by typing"; failures=$((failures + 1)); }
done

# Two layouts with the second one active: the keys of the active group count.
layout_name="us,de with de active"
setxkbmap -layout us,de
"$key_state" --lock-group 1 >/dev/null
check_all_forms
[ "$("$key_state" | tail -1)" = "group: 1" ] || { echo "FAIL [$layout_name] group changed"; failures=$((failures + 1)); }
"$key_state" --lock-group 0 >/dev/null

# A keymap without a single free keycode: a character missing from it cannot be typed. It
# is left out, the rest arrives, and nothing stays pressed (the A before it needs Shift).
layout_name="us without a free keycode"
setxkbmap us
xkbcomp -xkb "$DISPLAY" "$work/us.xkb" 2>/dev/null
python3 "$(dirname "$0")/full_keymap.py" "$work/us.xkb" "$work/full.xkb"
xkbcomp "$work/full.xkb" "$DISPLAY" 2>/dev/null
typef 0 "Aé"
expect_received "the missing character is left out" $'A\r'
expect_state ""
typef 0 "xY"
expect_received "typing goes on after it" $'xY\r'

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
