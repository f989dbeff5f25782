#!/usr/bin/env bash
# The configuration window end to end: the real program on the private desktop and bus of
# tests/linux/headless.sh opens it from its menu, holds its DDE answers while it is open, and keeps
# the user's edit in the live settings, as a save right after it shows. A DDE server switched
# on in it serves at once.
# Usage: config_window_e2e.sh PATH/TO/kelvor PATH/TO/kelvor-dde
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
kelvor=$(readlink -f "$1")
kdde=$(readlink -f "$2")

e2e_scratch request pid

e2e_configuration START.KLV NAME=E2E
e2e_workspace START.KLV

"$kelvor" >kelvor.log 2>&1 &
pid=$!
e2e_close_splash
main=$(e2e_wait_window '^NORDAL - Kelvor$' 10)
sleep 0.5

# 1. Menu item 3 opens it: 197 x 137 units of 2 pixels, centred on the screen.
e2e_menu_item "$main" 3
config=$(e2e_wait_window '^Config$' 10)
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$config")"
[ "$WIDTH x $HEIGHT" = "394 x 274" ] || e2e_fail "the window is $WIDTH x $HEIGHT pixels, not 394 x 274"
screen_w=$(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1] }')
centre=$((X + WIDTH / 2))
[ $((centre - screen_w / 2)) -le 20 ] && [ $((screen_w / 2 - centre)) -le 20 ] ||
  e2e_fail "the window is not centred: its middle is at x $centre on a screen $screen_w wide"

# 2. While it is open, a DDE request waits.
"$kdde" request --timeout 20 >request.out 2>&1 &
request=$!
sleep 1.5
kill -0 "$request" 2>/dev/null || e2e_fail "a DDE request was answered while the configuration window was open"

# 3. On the third tab, tick "Enable send value" (at 62, 56 units), then close the window.
xdotool windowactivate --sync "$config"
xdotool key --clearmodifiers ctrl+Tab ctrl+Tab
sleep 0.3
xdotool mousemove --window "$config" 131 122 click 1
sleep 0.3
xdotool key --clearmodifiers Escape
e2e_wait_gone '^Config$' 10

# 4. The held request is answered once the window has closed.
wait "$request" || e2e_fail "the held DDE request failed after the window closed: $(cat request.out)"
request=""

# 5. The edit is live: saving now writes it.
e2e_menu_item "$main" 8
save=$(e2e_wait_window '^Save configuration as$' 10)
xdotool windowactivate --sync "$save" key --clearmodifiers Return
e2e_wait_gone '^Save configuration as$' 10
# The save lands a moment after the dialog closes.
for _ in $(seq 50); do grep -q '^FILESOUNDKEY=' E2E.KLV 2>/dev/null && break; sleep 0.1; done
grep -q '^FILESOUNDKEY=' E2E.KLV 2>/dev/null || e2e_fail "the configuration was not saved"
[ "$(e2e_ini E2E.KLV APP ENABLESENDKEY)" = 1 ] || e2e_fail "the ticked \"Enable send value\" did not reach the settings"
[ "$(e2e_ini E2E.KLV APP ENABLESERVERDDE)" = 1 ] || e2e_fail "an untouched setting changed"
[ "$(e2e_ini START.KLV APP ENABLESENDKEY)" = 0 ] || e2e_fail "the window saved to the configuration file by itself"

# 6. A "..." button's file dialog shows above the window, although the strip that owns the
# window stays on top of everything else.
e2e_menu_item "$main" 3
config=$(e2e_wait_window '^Config$' 10)
xdotool windowactivate --sync "$config"
xdotool key --clearmodifiers ctrl+Tab ctrl+Tab ctrl+Tab
sleep 0.3
xdotool mousemove --window "$config" 362 158 click 1  # the "..." at 176, 74 units
dialog=$(e2e_wait_window '^Select file$' 10)
sleep 0.5
stacking=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/, /\n/g' | while read -r id; do printf '%d\n' "$id"; done)
above() { echo "$stacking" | grep -nx "$1" | cut -d: -f1; }
[ -n "$(above "$dialog")" ] && [ "$(above "$dialog")" -gt "$(above "$config")" ] ||
  e2e_fail "the file dialog opened beneath the configuration window"
xdotool key --clearmodifiers Escape
e2e_wait_gone '^Select file$' 10
xdotool windowactivate --sync "$config" key --clearmodifiers Escape
e2e_wait_gone '^Config$' 10

close_strip() {
  wmctrl -ic "$main" 2>/dev/null || xdotool windowclose "$main" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null || true
  pid=""
}
close_strip

# 7. Started with the DDE server off, then ticked on (third tab, at 62, 90 units): it serves
# without a restart.
e2e_configuration OFF.KLV NAME=E2E ENABLESERVERDDE=0
sed -i "s|^RS232=.*|RS232=$work/OFF.KLV|" KELVOR.INI
"$kelvor" >kelvor.log 2>&1 &
pid=$!
e2e_close_splash
main=$(e2e_wait_window '^NORDAL - Kelvor$' 10)
sleep 0.5
"$kdde" --timeout 1 request >/dev/null 2>&1 && e2e_fail "a server switched off answered"
e2e_menu_item "$main" 3
config=$(e2e_wait_window '^Config$' 10)
xdotool windowactivate --sync "$config"
xdotool key --clearmodifiers ctrl+Tab ctrl+Tab
sleep 0.3
xdotool mousemove --window "$config" 131 190 click 1
sleep 0.3
xdotool key --clearmodifiers Escape
e2e_wait_gone '^Config$' 10
"$kdde" --timeout 5 request >/dev/null || e2e_fail "the DDE server switched on does not serve until the next start"
close_strip
echo "configuration window end-to-end: all checks passed"
