#!/bin/bash
# Kelvor.exe's configuration window and file commands end to end under Wine (Kelvor started
# with --no-splash: DDE answers within 2 s), driven from the window driver as a person would:
# the window opens from the menu with its translated texts, a person's changes in it
# (configuration_steps.txt) reach the file "Save configuration as" writes, byte for byte as
# the Linux window writes it after the same steps, as Windows text; Load, Set default and
# Select language do what their dialogs were told.
#
# Usage: configuration_e2e.sh WINDOWS_BUILD_DIR PATH/TO/LINUX/configuration_steps
# Runs under tests/windows/wine.sh. With KELVOR_E2E_SHOTS=DIR, screenshots go there.
set -u
here=$(cd "$(dirname "$0")" && pwd)
linux_tests=$here/../linux
source "$linux_tests/e2e_lib.sh"
build=$(readlink -f "$1")
linux_steps=$(readlink -f "$2")
wine=${WINE:-/usr/lib/wine/wine64}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { if [ "$2" == "$3" ]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi; }

e2e_scratch kelvor request
e2e_on_exit() { [ -n "${kelvor:-}" ] && driver close 'NORDAL - Kelvor' >/dev/null 2>&1; }

driver() { "$wine" "$build/window_driver.exe" "$@" | tr -d '\r'; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
shot() { [ -n "${KELVOR_E2E_SHOTS:-}" ] && sleep 0.5 && import -window root "$KELVOR_E2E_SHOTS/$1.png"; }
strip='NORDAL - Kelvor'
# The value of a key of KELVOR.INI, once it is `want` (it is written a moment after the
# dialog closed) or after 5 s.
ini_soon() {
  local got _
  for _ in $(seq 50); do
    got=$(e2e_ini KELVOR.INI "$1" "$2" | sed 's/ *$//')
    [ "$got" == "$3" ] && break
    sleep 0.1
  done
  echo "$got"
}
# Whether a file is Windows text as Kelvor writes it: every line ends in CR LF, and no value
# is padded with blanks.
windows_text() {
  [ "$(grep -c $'\r$' "$1")" = "$(tr -cd '\n' <"$1" | wc -c)" ] && ! grep -q $' \r$' "$1" &&
    echo "ok: $2 is Windows text, unpadded" || fail "$2 is not Windows text: $(od -c "$1" | head -8)"
}
# Chooses `file` in the file dialog titled `title`, as typing its name and pressing OK would.
choose() { driver wait "$1" name "$1" "$2" ok "$1" gone "$1"; }

e2e_configuration START.KLV NAME=START PORT=1 BAUDRATE=9600 ENABLESENDKEY=0
cp "$here/../../resources/lang/english.lan" .
sed 's/^screen=Config\r\?$/screen=Konfiguration/' english.lan >deutsch.lan
printf '[FILECONFIG]\r\nRS232=START.KLV\r\n[TRANSLATE]\r\nFILENAME=english.lan\r\n' >KELVOR.INI

# Started with --no-splash, as a bench starts it with the programs that ask it for readings:
# DDE answers at once, not after the ten seconds of the splash.
started=$(date +%s%N)
"$wine" "$build/Kelvor.exe" --no-splash >kelvor.out 2>&1 &
kelvor=$!
for _ in $(seq 100); do "$wine" "$build/kelvor-dde.exe" --timeout 1 request >/dev/null 2>&1 && break; sleep 0.05; done
took=$((($(date +%s%N) - started) / 1000000))
[ "$took" -lt 2000 ] && echo "ok: with --no-splash DDE answers $took ms after the start" ||
  fail "with --no-splash the first DDE answer came after $took ms"
check "no splash showed" "count 0" "$(driver count class:KelvorAbout)"
driver wait "$strip" >/dev/null
sleep 0.5

# --- Menu item 3 opens the window with its texts from the language file; a person's changes
# in it are live, and Escape closes it.
check "the configuration window opens from the menu with its caption" "" "$(driver menu "$strip" 3 wait Config)"
check "its controls take their texts from the language file" "text Baud rate" "$(driver text Config 1111)"
shot configuration-rs232
# While it is open, a DDE request waits for it.
"$wine" "$build/kelvor-dde.exe" --timeout 30 request >request.out 2>&1 &
request=$!
driver play Config "$(windows_path "$here/configuration_steps.txt")" || fail "a step could not be played"
shot configuration-sound
kill -0 "$request" 2>/dev/null && echo "ok: a DDE request waits while the window is open" ||
  fail "a DDE request was answered while the window was open"
check "Escape closes it" "" "$(driver keys Config escape gone Config 5000)"
wait "$request" && echo "ok: the held request is answered once it closed" || fail "the held request failed: $(cat request.out)"
request=

# --- Save configuration as: the dialog proposes the configuration's name in the working
# folder; what it writes is what the Linux window writes after the same steps.
check "Save configuration as opens its dialog" "" "$(driver menu "$strip" 8 wait 'Save configuration as')"
shot save-dialog
check "it saves under the proposed name" "" "$(driver ok 'Save configuration as' gone 'Save configuration as')"
for _ in $(seq 50); do [ -s SCALE7.KLV ] && break; sleep 0.1; done
"$linux_steps" "$here/configuration_steps.txt" START.KLV linux.KLV || fail "the Linux window could not play the steps"
windows_text SCALE7.KLV "the saved configuration"
cmp linux.KLV SCALE7.KLV && echo "ok: the saved file is the Linux window's, byte for byte" ||
  fail "Kelvor.exe saved another file than the Linux window: $(diff <(tr -d '\r' <linux.KLV | sed 's/ *$//') <(sed 's/ *$//' SCALE7.KLV 2>&1) | head -5)"

# --- Load configuration: the chosen file replaces the settings, which the window then shows.
check "Load configuration takes the chosen file" "" "$(driver menu "$strip" 9; choose 'Load configuration' START.KLV)"
check "the loaded settings show in the window" "text START" "$(driver menu "$strip" 3 wait Config text Config 1301)"
driver keys Config escape gone Config 5000 >/dev/null

# --- Set default configuration: KELVOR.INI names the chosen file for the next start.
check "Set default configuration takes the chosen file" "" "$(driver menu "$strip" 10; choose 'Choose the start-up configuration' SCALE7.KLV)"
want=$(windows_path "$work/SCALE7.KLV")
check "KELVOR.INI names it" "$want" "$(ini_soon FILECONFIG RS232 "$want")"
windows_text KELVOR.INI "KELVOR.INI after Set default"

# --- Select language: KELVOR.INI names the new file; the window shows its texts when opened.
check "Select language takes the chosen file" "" "$(driver menu "$strip" 11; choose 'Choose a language file' deutsch.lan)"
want=$(windows_path "$work/deutsch.lan")
check "KELVOR.INI names the language file" "$want" "$(ini_soon TRANSLATE FILENAME "$want")"
check "the window opens in the new language" "" "$(driver menu "$strip" 3 wait Konfiguration keys Konfiguration escape gone Konfiguration 5000)"

driver close "$strip" >/dev/null
for _ in $(seq 50); do kill -0 "$kelvor" 2>/dev/null || break; sleep 0.1; done
kill -0 "$kelvor" 2>/dev/null && fail "closing the strip did not end the program"
kelvor=

[ "$failures" -eq 0 ] && echo "configuration window end to end: all passed" || echo "configuration window end to end: $failures failed"
exit $((failures > 0))
