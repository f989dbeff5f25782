#!/usr/bin/env bash
# The whole road of a reading into another program: the simulated instrument on a
# pseudo-terminal, the real program receiving it, and an xterm (raw mode, cat into a file)
# that holds the focus. Readings must arrive there exactly as the instrument sent them:
# first the plain form (reading and Return) with a unit the US layout lacks, then the
# structured records on an AZERTY layout with Caps Lock on, the arrows as escape sequences.
# Never into Kelvor's own windows: while its outputs window has the focus, readings are not
# typed (its check boxes and Save stay untouched), not even later, and the journal says once
# that typing is paused.
# Run and stop go through kelvor-dde, so the strip never takes the focus from the xterm.
# Usage: kelvor_typing_e2e.sh PATH/TO/kelvor PATH/TO/kelvor-dde PATH/TO/kelvor-sim
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
kelvor=$(readlink -f "$1")
kdde=$(readlink -f "$2")
ksim=$(readlink -f "$3")
[ -n "${DISPLAY:-}" ] || { echo "no X display: run under tests/linux/headless.sh"; exit 77; }

e2e_on_exit() { setxkbmap us 2>/dev/null || true; }
e2e_scratch xterm_pid sim1 sim2 pid

e2e_configuration PLAIN.KLV NAME=TYPING ENABLESENDKEY=1 PORT=0 BUFFERMODE=0
e2e_configuration RECORDS.KLV NAME=TYPING ENABLESENDKEY=1 PORT=1 BUFFERMODE=1
e2e_workspace PLAIN.KLV "$work/com1" "$work/com2"

"$ksim" --link "$work/com1" --format unit --unit 'µm' --interval 250 >sim1.log 2>&1 &
sim1=$!
"$ksim" --link "$work/com2" --format record --unit mm --interval 250 >sim2.log 2>&1 &
sim2=$!
for _ in $(seq 50); do [ -e com1 ] && [ -e com2 ] && break; sleep 0.1; done

setxkbmap us
"$kelvor" >kelvor.log 2>&1 &
pid=$!
e2e_close_splash
main=$(e2e_wait_window '^NORDAL - Kelvor$')
for _ in $(seq 100); do "$kdde" --timeout 1 request >/dev/null 2>&1 && break; sleep 0.1; done

: >received
xterm -u8 -T kelvor-typing-target -e sh -c "stty raw -echo; exec cat >> '$work/received'" 2>/dev/null &
xterm_pid=$!
target=$(e2e_wait_window '^kelvor-typing-target$')
for _ in $(seq 50); do xdotool windowfocus --sync "$target" 2>/dev/null && break; sleep 0.1; done

# Runs reception for a while, stops it, and lets the last keystrokes land.
run_for() {
  "$kdde" execute '[RUN]' || e2e_fail "[RUN] was not acknowledged"
  sleep "$1"
  "$kdde" execute '[STOP]' || e2e_fail "[STOP] was not acknowledged"
  sleep 0.5
}

# Checks that the file holds an unbroken run of the instrument's readings, each typed as
# expected, and at least $2 of them. $1 names the form.
check_received() {
  python3 "$here/check_readings.py" received "$1" "$2" 'µm' || e2e_fail "$1: readings did not arrive exactly (see above)"
  : >received
}

# Plain form on the US layout, which has no µ.
run_for 2.5
check_received plain 4

# The outputs window has the focus while readings come: nothing lands in it, nothing is
# typed once the xterm has the focus again.
xdotool windowactivate --sync "$main"
e2e_menu_item "$main" 7
outputs=$(e2e_wait_window '^Reading log and MQTT$' 5)
xdotool windowactivate --sync "$outputs"
cp KELVOR.INI ini.before
run_for 2
xdotool search --onlyvisible --name '^Reading log and MQTT$' >/dev/null || e2e_fail "a reading pressed a button of the outputs window"
cmp -s KELVOR.INI ini.before || e2e_fail "readings typed into the outputs window changed KELVOR.INI"
xdotool windowactivate --sync "$outputs" key Escape
e2e_wait_gone '^Reading log and MQTT$' 5
for _ in $(seq 50); do xdotool windowfocus --sync "$target" 2>/dev/null && break; sleep 0.1; done
sleep 0.5
[ -s received ] && e2e_fail "readings delivered while a Kelvor window had the focus were typed: $(od -c received | head -3)"
[ "$(grep -c 'Typing paused' kelvor.log)" = 1 ] || e2e_fail "the pause was said $(grep -c 'Typing paused' kelvor.log) times, not once"
run_for 1.5
check_received plain 2

# Structured records on AZERTY with Caps Lock on, from the second instrument.
"$kdde" execute '[LOAD(RECORDS.KLV)]' || e2e_fail "[LOAD( was not acknowledged"
setxkbmap fr
xdotool key Caps_Lock
run_for 3
xdotool key Caps_Lock
check_received records 6

grep -q "X11 session" kelvor.log && e2e_fail "the program said it has no X display"
echo "PASS"
