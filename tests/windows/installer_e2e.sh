#!/bin/bash
# The setup program under Wine, as a script rolling Kelvor out would run it: a silent install
# into a folder with a blank in its name, Kelvor started from its Start-menu shortcut (the
# user's folder seeded at the first start in the user's language, ready to run: Windows text
# in its files, a CR LF instrument's readings all arriving, three in a write, and DDE
# answering), an upgrade over it that keeps the user's KELVOR.INI and mends the program files,
# and the silent uninstaller in both its forms while Kelvor runs, after which nothing
# installed is left; the portable zip holds the same files.
#
# Usage: installer_e2e.sh WINDOWS_BUILD_DIR SETUP_EXE PORTABLE_ZIP VERSION PATH/TO/kelvor-sim
# Runs under tests/windows/wine.sh (WINEPREFIX, DISPLAY, the Wine server started and kept).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../linux/e2e_lib.sh"
build=$(readlink -f "$1")
setup=$(readlink -f "$2")
zip=$(readlink -f "$3")
version=$4
ksim=$(readlink -f "$5")
wine=${WINE:-/usr/lib/wine/wine64}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { if [ "$2" == "$3" ]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi; }
driver() { "$wine" "$build/window_driver.exe" "$@" | tr -d '\r'; }

e2e_scratch starter sim advise kelvor
target='C:\Kelvor Test\Kelvor'
installed="$WINEPREFIX/drive_c/Kelvor Test/Kelvor"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\org.kelvor.Kelvor'
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelvor.lnk"
# Wine links Documents to the Linux home folder: the test's user gets a folder of the prefix.
documents="$WINEPREFIX/drive_c/users/$(id -un)/Documents"
[ -L "$documents" ] && rm "$documents"
mkdir -p "$documents"
rm -rf "$documents/Kelvor" "$WINEPREFIX/drive_c/Kelvor Test"
e2e_on_exit() { "$wine" "$installed/kelvor-dde.exe" --timeout 2 execute '[APPCLOSE]' >/dev/null 2>&1; }

# NSIS reads /D= and _?= from its raw command line, unquoted and last; wine64 quotes an
# argument with a blank, so the command goes through a batch file, as a roll-out script's would.
# Wine's drive Z: is the Linux root.
windows_path() { local path; path=$(readlink -f "$1"); echo "Z:${path//\//\\}"; }
# Its status is the command's exit code.
batch() {
  printf '@echo off\r\n%s\r\nexit /b %%errorlevel%%\r\n' "$1" >run.bat
  "$wine" cmd /c "$(windows_path run.bat)" >>batch.log 2>&1
}
install() { batch "\"$(windows_path "$setup")\" /S /D=$target"; }
value() { "$wine" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v k="$1" '$1 == k {$1 = $2 = ""; sub(/^ +/, ""); print}'; }
shipped() { (cd "$installed" && find . -type f ! -name uninstall.exe | sort); }
start_from_shortcut() {  # what [LANGUAGE]: Wine takes the user's language from LC_ALL
  # /wait: the starter lasts as long as Kelvor, whose program file an upgrade replaces.
  env -u LC_MESSAGES -u LANG LC_ALL="${2:-C.UTF-8}" "$wine" start /wait /unix "$shortcut" >/dev/null 2>&1 &
  starter=$!
  driver wait class:KelvorAbout click class:KelvorAbout gone class:KelvorAbout >/dev/null
  check "$1: the strip shows" "" "$(driver wait 'NORDAL - Kelvor')"
}
# The starter may return a little before Kelvor.exe's process has gone, and a program file
# still in use cannot be replaced or deleted.
ended() {
  local _
  for _ in $(seq 200); do
    kill -0 "$starter" 2>/dev/null || pgrep -f 'Kelvor Test.Kelvor.Kelvor\.exe' >/dev/null || break
    sleep 0.1
  done
  pgrep -f 'Kelvor Test.Kelvor.Kelvor\.exe' >/dev/null && fail "$1: Kelvor.exe did not end"
  starter=
  sleep 0.3
}

# --- A silent install into a folder with a blank.
install
check "the setup installs the programs, the language files, the sounds and the licence" \
  "$( (printf '%s\n' ./Kelvor.exe ./LICENSE.txt ./MOSQUITTO-LICENSE.txt ./kelvor-dde.exe; cd "$here/../../resources/lang" && ls ./*.lan; cd .. && ls sound/*.wav | sed 's|^|./|') | LC_ALL=C sort)" \
  "$(shipped | LC_ALL=C sort)"
[ -f "$installed/uninstall.exe" ] || fail "no uninstall.exe"
[ -f "$shortcut" ] && echo "ok: the Start-menu shortcut is there" || fail "no shortcut at $shortcut"
check "the uninstall entry: name, version, publisher, folder" "Kelvor|$version|Kelvor project|$target" \
  "$(value DisplayName)|$(value DisplayVersion)|$(value Publisher)|$(value InstallLocation)"
size=$(($(value EstimatedSize)))
[ "$size" -gt 100 ] && echo "ok: the entry gives the size, $size KiB" || fail "EstimatedSize is $size"
check "the zip holds the same files" "$(shipped | sed 's|^\./||' | LC_ALL=C sort)" \
  "$(python3 -c 'import sys, zipfile; [print(n.split("/", 1)[1]) for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/")]' "$zip" | LC_ALL=C sort)"

# --- The first start from the shortcut, on a German Windows, fills Documents\Kelvor from the
# installed files and names deutsch.lan as the language file.
start_from_shortcut "first start" de_DE.UTF-8
for file in $(cd "$installed" && ls ./*.lan) sound/start.wav; do
  cmp -s "$installed/$file" "$documents/Kelvor/$file" && echo "ok: the first start copied $file" ||
    fail "$file was not copied into Documents\\Kelvor"
done
check "a German first start names deutsch.lan" 'deutsch.lan' "$(e2e_ini "$documents/Kelvor/KELVOR.INI" TRANSLATE FILENAME | sed 's/.*[\\/]//')"
driver close 'NORDAL - Kelvor' >/dev/null
ended "closing the strip"

# --- A first start again, in a language Kelvor has no file for: English. Its configuration
# serves DDE, and the installed kelvor-dde.exe gets an answer.
rm -rf "$documents/Kelvor"
start_from_shortcut "a first start in Swahili" sw_KE.UTF-8
check "a first start in an unknown language names english.lan" 'english.lan' \
  "$(e2e_ini "$documents/Kelvor/KELVOR.INI" TRANSLATE FILENAME | sed 's/.*[\\/]//')"
answered=no
for _ in $(seq 50); do "$wine" "$installed/kelvor-dde.exe" --timeout 1 request >request.out 2>&1 && answered=yes && break; sleep 0.1; done
check "the installed kelvor-dde.exe gets an answer from the installed Kelvor.exe" yes "$answered"

# The seeded files are Windows text: CR LF line ends, "\" alone between folders, no value
# padded with blanks.
seeded="$documents/Kelvor"
for file in KELVOR.INI KELVOR.KLV; do
  [ "$(tr -cd '\n' <"$seeded/$file" | wc -c)" -gt 1 ] && [ "$(grep -c $'\r$' "$seeded/$file")" = "$(tr -cd '\n' <"$seeded/$file" | wc -c)" ] &&
    ! grep -q $' \r$' "$seeded/$file" && echo "ok: the seeded $file has CR LF line ends and no padding" ||
    fail "the seeded $file: $(od -c "$seeded/$file" | head -20)"
done
grep -q / "$seeded/KELVOR.INI" && fail "KELVOR.INI mixes separators: $(cat "$seeded/KELVOR.INI")"
check "KELVOR.INI names the seeded configuration and language file" \
  "C:\\users\\$(id -un)\\Documents\\Kelvor\\KELVOR.KLV|C:\\users\\$(id -un)\\Documents\\Kelvor\\english.lan" \
  "$(e2e_ini "$seeded/KELVOR.INI" FILECONFIG RS232)|$(e2e_ini "$seeded/KELVOR.INI" TRANSLATE FILENAME)"

# The seeded configuration with COM1 an instrument sending CR LF, three readings in each
# write, ten a second: [RUN] from the installed kelvor-dde.exe, and a hot link on Readings
# gets every reading once, in order, none starting with the line feed.
"$ksim" --format counter --burst 3 --interval 300 --terminator crlf >sim.log 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q '^/dev/' sim.log 2>/dev/null && break; sleep 0.1; done
ln -sfn "$(head -1 sim.log)" "$WINEPREFIX/dosdevices/com1"
"$wine" "$installed/kelvor-dde.exe" advise Readings >readings.out 2>&1 &
advise=$!
driver wait '!' 10000 >/dev/null  # the first hot link's "Autodata:" message, which waits for nobody
"$wine" "$installed/kelvor-dde.exe" execute '[RUN]' >/dev/null 2>&1 || fail "[RUN] was not acknowledged"
sleep 3
"$wine" "$installed/kelvor-dde.exe" execute '[STOP]' >/dev/null 2>&1
sleep 0.5
kill "$sim" "$advise"
wait "$sim" "$advise" 2>/dev/null
sim= advise=
driver ok '!' gone '!' >/dev/null
python3 "$here/../linux/outputs/check_counters.py" 20 --lines readings.out ||
  fail "the ready configuration lost or spoiled readings"
cd "$documents/Kelvor"
printf '[USER]\r\nMINE=1\r\n' >>english.lan
cp KELVOR.INI "$work/kelvor.ini.before"
cp english.lan "$work/english.lan.before"
cd "$work"
[ -n "${KELVOR_E2E_SHOT:-}" ] && import -window root "$KELVOR_E2E_SHOT"
printf 'broken' >"$installed/english.lan"
install
check "setup refuses to upgrade while Kelvor runs, with exit code 2" "2 broken" "$? $(cat "$installed/english.lan")"
"$wine" "$installed/kelvor-dde.exe" --timeout 2 execute '[APPCLOSE]' >/dev/null 2>&1
ended "[APPCLOSE]"

# --- An upgrade over it mends the program files and keeps the user's.
install
cmp -s "$installed/english.lan" "$here/../../resources/lang/english.lan" && echo "ok: the upgrade replaces the program files" ||
  fail "the upgrade left a changed program file"
cmp -s "$documents/Kelvor/KELVOR.INI" kelvor.ini.before && cmp -s "$documents/Kelvor/english.lan" english.lan.before &&
  echo "ok: the upgrade keeps the changed KELVOR.INI and language file" || fail "the upgrade changed the user's files"

# --- The silent uninstaller while Kelvor runs closes it and removes everything: the
# asynchronous form Apps & features runs (the quiet uninstall command of the entry), then the
# synchronous form, whose exit code the script sees (it leaves itself behind).
start_directly() {
  "$wine" "$installed/Kelvor.exe" --user-folder --no-splash >/dev/null 2>&1 &
  kelvor=$!
  driver wait 'NORDAL - Kelvor' >/dev/null
}
uninstalled() {
  { [ ! -e "$installed" ] || rmdir "$installed" 2>/dev/null; } && echo "ok: $1: every installed file is removed" ||
    fail "$1: left behind: $(cd "$installed" && find . -type f | tr '\n' ' ')"
  [ -e "$shortcut" ] && fail "$1: the shortcut is still there" || echo "ok: $1: the shortcut is gone"
  "$wine" reg query "$key" >/dev/null 2>&1 && fail "$1: the uninstall entry is still there" ||
    echo "ok: $1: the uninstall entry is gone"
  for _ in $(seq 50); do kill -0 "$kelvor" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$kelvor" 2>/dev/null && fail "$1: Kelvor still runs" || echo "ok: $1: Kelvor was closed"
  kelvor=
  cmp -s "$documents/Kelvor/KELVOR.INI" kelvor.ini.before && echo "ok: $1: the user's folder stays" ||
    fail "$1: the user's KELVOR.INI went"
}
start_directly
check "the quiet uninstall command" "\"$target\\uninstall.exe\" /S" "$(value QuietUninstallString)"
batch "$(value QuietUninstallString)"
check "the asynchronous uninstall returns 0" 0 "$?"
for _ in $(seq 150); do [ -e "$installed/Kelvor.exe" ] || [ -e "$installed/uninstall.exe" ] || break; sleep 0.1; done
sleep 0.3
uninstalled "asynchronous uninstall"
install
start_directly
batch "\"$target\\uninstall.exe\" /S _?=$target"
check "the synchronous uninstall returns 0" 0 "$?"
rm -f "$installed/uninstall.exe"
uninstalled "synchronous uninstall"

[ "$failures" -eq 0 ] && echo "Installer end to end: all passed" || echo "Installer end to end: $failures failed"
exit $((failures > 0))
