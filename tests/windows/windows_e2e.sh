#!/bin/bash
# Kelvor.exe's windows under Wine, driven as a person would from the menu of one running
# program: the about box, the serial device window, the view and test windows on a
# simulated instrument mapped to COM1, the outputs window, and the message window of
# [MESSAGE( and of a first hot link, a notice box. Each has the keyboard focus, Kelvor's icon
# and leaves the strip clear. Texts come from a language file whose captions differ from the
# built-in ones, so a caption proves the file was read.
#
# Usage: windows_e2e.sh WINDOWS_BUILD_DIR PATH/TO/kelvor-sim
# Runs under tests/windows/wine.sh (WINEPREFIX, DISPLAY, the Wine server started and kept).
# SHOTS=DIR keeps a screenshot of each window there.
set -u
here=$(cd "$(dirname "$0")" && pwd)
linux_tests=$here/../linux
source "$linux_tests/e2e_lib.sh"
build=$(readlink -f "$1")
ksim=$(readlink -f "$2")
wine=${WINE:-/usr/lib/wine/wine64}
shots=${SHOTS:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { if [ "$2" == "$3" ]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi; }

e2e_scratch sim kelvor advise
e2e_on_exit() { [ -n "${kelvor:-}" ] && "$wine" "$build/kelvor-dde.exe" --timeout 2 execute '[APPCLOSE]' >/dev/null 2>&1; }

dde() { "$wine" "$build/kelvor-dde.exe" "$@" | tr -d '\r'; }
driver() { "$wine" "$build/window_driver.exe" "$@" | tr -d '\r'; }
strip='NORDAL - Kelvor'
shot() { [ -n "$shots" ] && { sleep 0.6; import -window root "$shots/$1.png"; }; }
# What a person sees of a window just opened: it is active, with Kelvor's icon, off the strip.
dressed() { driver active "$1" icon "$1" clear "$1" | tr '\n' ' ' | sed 's/ $//'; }

e2e_configuration TEST.KLV NAME=WINTEST PORT=0 SELECTENDOF=1 ENDOFCHAR=1 ENABLECONVERTVALUE=1
e2e_configuration CRLF.KLV NAME=CRLF PORT=0 SELECTENDOF=1 ENDOFCHAR=2
sed -e 's/^screen=View in RS232/screen=Octets du port/' -e 's/^screen=Testing/screen=Essai du découpage/' \
  -e 's/^clear=Clear/clear=Effacer/' -e 's/^screen=Serial devices/screen=Ports série/' \
  -e 's/^screen=Reading log and MQTT/screen=Journal des lectures/' "$linux_tests/../../resources/lang/english.lan" >mine.lan
printf '[FILECONFIG]\r\nRS232=TEST.KLV\r\n[TRANSLATE]\r\nFILENAME=mine.lan\r\n' >KELVOR.INI

# Wine links COM1 to /dev/ttyS0 when its server starts: the server is started first.
setsid /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
setsid "$wine" wineboot </dev/null >/dev/null 2>&1
"$ksim" --format unit --unit mm --interval 200 --start 12 --step 1 >sim.log 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q '^/dev/' sim.log 2>/dev/null && break; sleep 0.1; done
ln -sfn "$(head -1 sim.log)" "$WINEPREFIX/dosdevices/com1"

"$wine" "$build/Kelvor.exe" >kelvor.out 2>&1 &
kelvor=$!
driver wait class:KelvorAbout >/dev/null
shot splash
driver click class:KelvorAbout gone class:KelvorAbout >/dev/null || fail "the splash did not close on a click"
driver wait "$strip" >/dev/null || fail "no strip"
for _ in $(seq 50); do dde --timeout 1 request >/dev/null 2>&1 && break; sleep 0.1; done

# --- A second start in the same folder brings the first one's strip forward and ends.
status=$(timeout 30 "$wine" "$build/Kelvor.exe" >second.out 2>&1; echo $?)
check "a second Kelvor in the same folder ends at once" "0 count 1" "$status $(driver count "$strip")"

# --- The view window: the raw bytes as text and one row per byte; Escape closes it and
# gives the port back.
driver menu "$strip" 5 >/dev/null
check "the view window opens with its translated caption" "" "$(driver wait 'Octets du port' 5000)"
check "its buttons are translated" "text Effacer" "$(driver text 'Octets du port' 2004)"
check "it has the focus and Kelvor's icon, clear of the strip" "active yes icon yes clear yes" "$(dressed 'Octets du port')"
sleep 1.5
rows=$(driver items 'Octets du port' 2008)
text=$(driver text 'Octets du port' 2003)
[[ "${rows#items }" -ge 20 ]] && echo "ok: the view lists the bytes ($rows)" || fail "the view's list: $rows"
[[ "$text" =~ 1[2-9]\.[0-9]+\ mm ]] && echo "ok: the view shows the running text" || fail "the view's text: $text"
shot view
# The instrument holds still while the two sides are cleared.
kill -STOP "$sim"
sleep 0.5
text=$(driver text 'Octets du port' 2003 | tr -d '\n')
driver push 'Octets du port' 2009 >/dev/null
check "Clear under the list empties the list only" "items 0|$text" \
  "$(driver items 'Octets du port' 2008)|$(driver text 'Octets du port' 2003 | tr -d '\n')"
driver push 'Octets du port' 2004 >/dev/null
check "Clear under the text empties the text only" "text |items 0" \
  "$(driver text 'Octets du port' 2003 items 'Octets du port' 2008 | tr '\n' '|' | sed 's/|$//')"
kill -CONT "$sim"
before=$(driver focus 'Octets du port')
driver press 'Octets du port' tab >/dev/null
after=$(driver focus 'Octets du port')
[ "$before" != "$after" ] && echo "ok: Tab moves the focus ($before, then $after)" || fail "Tab left the focus at $after"
check "Escape closes the view window" "" "$(driver press 'Octets du port' escape gone 'Octets du port' 3000)"

# --- The test window: frames cut and converted on the live port, nothing delivered.
driver menu "$strip" 6 >/dev/null
check "the test window opens with its translated caption" "" "$(driver wait 'Essai du découpage' 5000)"
sleep 1.2
got=$(driver text 'Essai du découpage' 2102)
[[ "$got" =~ ^text\ [0-9]+(\.[0-9]+)?$ ]] && echo "ok: the test window shows the converted frame ($got)" ||
  fail "the test window's field: $got"
shot test
check "the close box closes the test window" "" "$(driver close 'Essai du découpage' gone 'Essai du découpage' 3000)"
# Framing at CR LF while the instrument ends its readings with CR alone: the empty field is
# explained under it.
dde execute '[LOAD(CRLF.KLV)]'
driver menu "$strip" 6 wait 'Essai du découpage' 5000 >/dev/null
sleep 1.2
check "with no frame end seen, the field stays empty" "text " "$(driver text 'Essai du découpage' 2102)"
hint=$(driver text 'Essai du découpage' 2105)
[[ "$hint" == *"No frame end seen yet"*"expects CR LF."*"CR alone"* ]] && echo "ok: the line under it says what is awaited" ||
  fail "the test window's hint: $hint"
shot test-hint
driver close 'Essai du découpage' gone 'Essai du découpage' 3000 >/dev/null
dde execute '[LOAD(TEST.KLV)]'
check "nothing reached the DDE value meanwhile" "" "$(dde request | tr -d ' ')"

# --- The about box: not modal, so DDE is answered while it is open; a click closes it.
driver menu "$strip" 2 >/dev/null
driver wait class:KelvorAbout 5000 >/dev/null || fail "the about box did not open"
dde --timeout 2 execute '[RUN]' >/dev/null || fail "no DDE answer while the about box is open"
sleep 2
check "the about box stays until it is clicked" "count 1" "$(driver count class:KelvorAbout)"
driver click class:KelvorAbout gone class:KelvorAbout 2000 >/dev/null || fail "the about box did not close on a click"

# --- A notice: the view window refused while reception runs, in a box of Kelvor's own.
driver menu "$strip" 5 >/dev/null
check "a notice box has the focus and Kelvor's icon, clear of the strip" "active yes icon yes clear yes" \
  "$(driver wait 'Octets du port' 5000 >/dev/null; dressed 'Octets du port')"
shot notice
check "OK closes the notice" "" "$(driver ok 'Octets du port' gone 'Octets du port' 3000)"

# --- The message window: a first hot link's message waits for nobody; [MESSAGE( waits.
"$wine" "$build/kelvor-dde.exe" advise >advise.out 2>&1 &
advise=$!
driver wait '!' 10000 >/dev/null || fail "no Autodata: message"
check "its keyboard focus is on the hidden holder, not on OK" "focus 2205" "$(driver focus '!')"
check "it has Kelvor's icon, clear of the strip" "icon yes clear yes" "$(driver icon '!' clear '!' | tr '\n' ' ' | sed 's/ $//')"
shot message
got=$(dde --timeout 2 request | tr -d ' ')
[[ "$got" =~ ^[0-9]+(\.[0-9]+)?$ ]] && echo "ok: requests are answered while the Autodata: message is open" ||
  fail "a request while the message is open gave [$got]"
check "Enter on the holder leaves it open" "count 1" "$(driver press '!' enter count '!' | tail -1)"
check "OK closes it" "" "$(driver ok '!' gone '!' 3000)"
kill "$advise" 2>/dev/null
advise=
# [MESSAGE( waits for its OK, with the execute already acknowledged.
dde execute '[MESSAGE(Weigh the next sample)]' || fail "[MESSAGE( was not acknowledged"
check "the [MESSAGE( window has the focus and Kelvor's icon, clear of the strip" "active yes icon yes clear yes" \
  "$(driver wait '!' 5000 >/dev/null; dressed '!')"
shot message-command
check "OK closes the [MESSAGE( window" "" "$(driver ok '!' gone '!' 3000)"
dde execute '[STOP]'

# --- The serial device window: the prefix's COM ports; a port mapped to a COM number of
# Kelvor is written to [PORTS] of KELVOR.INI; Escape closes it.
driver menu "$strip" 4 >/dev/null
check "the device window opens with its translated caption" "" "$(driver wait 'Ports série' 5000)"
check "it has the focus and Kelvor's icon, clear of the strip" "active yes icon yes clear yes" "$(dressed 'Ports série')"
rows=$(driver items 'Ports série' 2301)
[[ "${rows#items }" -ge 1 ]] && echo "ok: the device window lists the COM ports ($rows)" || fail "the device list: $rows"
shot devices
driver pick 'Ports série' 2303 2 push 'Ports série' 2304 >/dev/null
sleep 0.5
check "Map writes the first port for COM3" "COM1|text COM3 = COM1" \
  "$(e2e_ini KELVOR.INI PORTS COM3)|$(driver text 'Ports série' 2306)"
check "Escape closes the device window" "" "$(driver press 'Ports série' escape gone 'Ports série' 3000)"

# --- The outputs window: not modal; the reading log switched on, its folder and the broker
# saved with Enter reach KELVOR.INI, and the log is written from then on.
driver menu "$strip" 7 >/dev/null
check "the outputs window opens with its translated caption" "" "$(driver wait 'Journal des lectures' 5000)"
check "its state line says how publishing stands" "text Publishing is off." "$(driver text 'Journal des lectures' 2425)"
check "it keeps the focus the menu gave it, with Kelvor's icon, clear of the strip" "active yes icon yes clear yes" \
  "$(sleep 0.5; dressed 'Journal des lectures')"
driver push 'Journal des lectures' 2402 set 'Journal des lectures' 2404 'journal' \
  set 'Journal des lectures' 2408 broker.example set 'Journal des lectures' 2409 8883 >/dev/null
shot outputs
check "Enter saves and closes it" "" "$(driver press 'Journal des lectures' enter gone 'Journal des lectures' 3000)"
check "the log's and the broker's settings reach KELVOR.INI" "1 journal 0 broker.example 8883 10000" \
  "$(for k in LOG.ENABLE LOG.FOLDER MQTT.ENABLE MQTT.HOST MQTT.PORT MQTT.QUEUE; do printf '%s ' "$(e2e_ini KELVOR.INI ${k%.*} ${k#*.})"; done | sed 's/ $//')"
dde execute '[RUN]'
sleep 1.5
dde execute '[STOP]'
logged=$(cat journal/* 2>/dev/null | grep -c .)
[ "$logged" -ge 3 ] && echo "ok: readings are logged ($logged)" || fail "the reading log holds $logged readings"
check "Escape drops what was typed" "journal" \
  "$(driver menu "$strip" 7 wait 'Journal des lectures' set 'Journal des lectures' 2404 autre press 'Journal des lectures' escape gone 'Journal des lectures' >/dev/null; e2e_ini KELVOR.INI LOG FOLDER)"

[ "$failures" -eq 0 ] && echo "Kelvor.exe's windows end to end: all passed" || echo "Kelvor.exe's windows end to end: $failures failed"
exit $((failures > 0))
