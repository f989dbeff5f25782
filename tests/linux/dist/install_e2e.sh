#!/usr/bin/env bash
# Kelvor installed as a user would install it: `cmake --install` into a prefix with a blank in
# its path, moved elsewhere afterwards, and started from yet another folder with --folder.
# Checks the installed launcher, metadata, manual pages and D-Bus interface with the desktop's
# own tools, the command-line conventions of the three programs, and --folder's bad input.
# Usage: install_e2e.sh BUILD-DIR VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
build=$(readlink -f "$1")
version=$2

e2e_scratch pid sim

# Installed, then moved: the shipped files are found from the program, not from the prefix
# it was built for.
cmake --install "$build" --prefix "$work/first prefix" >"$work/install.log" || e2e_fail "cmake --install failed: $(cat "$work/install.log")"
mv "$work/first prefix" "$work/Kelvor install"
prefix="$work/Kelvor install"
bin="$prefix/bin"
share="$prefix/share"
languages=$(cd "$here/../../../resources/lang" && ls ./*.lan)
for file in bin/kelvor bin/kelvor-dde bin/kelvor-sim ${languages//.\//share/kelvor/} share/kelvor/sound/info.wav \
  share/kelvor/sound/touch.wav share/kelvor/sound/start.wav share/applications/org.kelvor.Kelvor.desktop \
  share/metainfo/org.kelvor.Kelvor.metainfo.xml share/icons/hicolor/scalable/apps/kelvor.svg \
  share/dbus-1/interfaces/dde.Server.xml share/doc/kelvor/copyright; do
  [ -f "$prefix/$file" ] || e2e_fail "$file is not installed"
done
for size in 16 22 24 32 48 64 128 256; do
  file "$share/icons/hicolor/${size}x$size/apps/kelvor.png" | grep -q "PNG image data, $size x $size," ||
    e2e_fail "the ${size}x$size icon is not a $size x $size PNG"
done

desktop-file-validate "$share/applications/org.kelvor.Kelvor.desktop" || e2e_fail "desktop-file-validate refused the launcher"
grep -qx 'Exec=kelvor --user-folder' "$share/applications/org.kelvor.Kelvor.desktop" ||
  e2e_fail "the launcher does not start kelvor in the per-user folder"
appstreamcli validate --no-net "$share/metainfo/org.kelvor.Kelvor.metainfo.xml" >"$work/appstream.log" ||
  e2e_fail "appstreamcli refused the metadata: $(cat "$work/appstream.log")"
grep -q "<release version=\"$version\"" "$share/metainfo/org.kelvor.Kelvor.metainfo.xml" ||
  e2e_fail "the metadata does not name release $version"

# Every manual page renders without a warning; kelvor(1) and the README describe every
# execute command.
for page in kelvor kelvor-dde kelvor-sim; do
  MANWIDTH=80 man -l --warnings "$share/man/man1/$page.1.gz" >"$work/$page.txt" 2>"$work/$page.warnings" ||
    e2e_fail "man -l $page.1 failed"
  [ -s "$work/$page.warnings" ] && e2e_fail "man -l $page.1 warns: $(cat "$work/$page.warnings")"
  grep -q "Kelvor $version" "$work/$page.txt" || e2e_fail "$page(1) does not carry version $version"
done
for command in APPCLOSE APPTOP APPHIDE RUN 'OPTO?' STOP REQUEST WAITRS CLEARBUF 'SEND_W(' 'SEND(' 'WAIT(' 'LOAD(' 'MESSAGE('; do
  grep -qF "[$command" "$work/kelvor.txt" || e2e_fail "kelvor(1) does not describe [$command"
  grep -qF "| \`[$command" "$here/../../../README.md" || e2e_fail "the README's table lacks [$command"
done

# Command-line conventions, without a display: --help and --version on standard output with
# status 0, an unknown option status 2 with one line on standard error.
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
for program in kelvor kelvor-dde kelvor-sim; do
  out=$("${nodisplay[@]}" "$bin/$program" --version) || e2e_fail "$program --version failed"
  [ "$out" = "$program $version" ] || e2e_fail "$program --version printed '$out'"
  "${nodisplay[@]}" "$bin/$program" --help >"$work/help.txt" || e2e_fail "$program --help failed"
  grep -q -- '--version' "$work/help.txt" || e2e_fail "$program --help does not list --version"
  rc=0
  "${nodisplay[@]}" "$bin/$program" --bogus >"$work/out.txt" 2>"$work/err.txt" || rc=$?
  [ "$rc" = 2 ] || e2e_fail "$program --bogus exited $rc, not 2"
  [ ! -s "$work/out.txt" ] && [ "$(wc -l <"$work/err.txt")" = 1 ] ||
    e2e_fail "$program --bogus did not print one line on standard error only: $(cat "$work/out.txt" "$work/err.txt")"
done
grep -q 'kelvor(1)' <("$bin/kelvor" --help) || e2e_fail "kelvor --help does not point to the manual page"

# --folder's bad input: a clear message, status 1, nothing made anywhere.
mkdir "$work/bad"
cd "$work/bad"
: >a-file
long=$(printf 'x%.0s' $(seq 300))
refuse() {  # expected-words folder [run-as...]
  local words=$1 folder=$2 rc=0
  shift 2
  "$@" "${nodisplay[@]}" "$bin/kelvor" --folder "$folder" >/dev/null 2>"$work/err.txt" || rc=$?
  [ "$rc" = 1 ] || e2e_fail "--folder '$folder' exited $rc, not 1"
  grep -q "$words" "$work/err.txt" || e2e_fail "--folder '$folder' said: $(cat "$work/err.txt")"
}
refuse 'is a file' a-file
refuse 'is a file' a-file/inside
refuse 'File name too long' "new/deeper/$long/inside"
mkdir locked
chmod 555 locked
if [ "$(id -u)" = 0 ]; then
  # root writes anywhere: the refusal is tried as nobody, who can reach the program.
  chmod 755 "$work" "$work/bad"
  refuse 'not writable' locked setpriv --reuid=65534 --regid=65534 --clear-groups
  refuse 'cannot create' locked/new setpriv --reuid=65534 --regid=65534 --clear-groups
else
  refuse 'not writable' locked
  refuse 'cannot create' locked/new
fi
for usage in "--folder" "--folder=" "--folder a --user-folder" "--folder a --folder b" "stray"; do
  rc=0
  # shellcheck disable=SC2086
  "${nodisplay[@]}" "$bin/kelvor" $usage >/dev/null 2>&1 || rc=$?
  [ "$rc" = 2 ] || e2e_fail "kelvor $usage exited $rc, not 2"
done
[ "$(ls -A)" = "$(printf 'a-file\nlocked')" ] && [ -z "$(ls -A locked)" ] ||
  e2e_fail "a refused --folder left something behind: $(ls -AR)"

# A folder with a sound of its own keeps it; the missing files are still copied. A broken
# install without share/kelvor/ copies nothing and goes on to start (here it stops for want
# of a display, past the copying).
mkdir -p "$work/mine/sound"
echo mine >"$work/mine/sound/info.wav"
"${nodisplay[@]}" "$bin/kelvor" --folder "$work/mine" >/dev/null 2>&1 || true
[ "$(cat "$work/mine/sound/info.wav")" = mine ] || e2e_fail "the first start replaced a sound of the folder"
cmp -s "$work/mine/sound/touch.wav" "$share/kelvor/sound/touch.wav" && cmp -s "$work/mine/english.lan" "$share/kelvor/english.lan" ||
  e2e_fail "the first start did not copy the missing shipped files"
# The launcher's per-user folder: Kelvor in the documents folder, filled the same way.
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "${nodisplay[@]}" "$bin/kelvor" --user-folder >/dev/null 2>&1 || true
cmp -s "$work/home/Documents/Kelvor/english.lan" "$share/kelvor/english.lan" ||
  e2e_fail "--user-folder did not start in ~/Documents/Kelvor"
# The first start names the language file of the system's language, taken from LC_ALL, then
# LC_MESSAGES, then LANG, as the C library does; English for a language without a file. All
# language files are copied, so that the user can switch from the menu.
first_language() {  # expected-file variable=value...
  local expected=$1 folder="$work/language-$#-$1"
  shift
  env -u LC_ALL -u LC_MESSAGES -u LANG "$@" "${nodisplay[@]}" "$bin/kelvor" --folder "$folder" >/dev/null 2>&1 || true
  [ "$(e2e_ini "$folder/KELVOR.INI" TRANSLATE FILENAME)" = "$folder/$expected" ] ||
    e2e_fail "a first start with $* named '$(e2e_ini "$folder/KELVOR.INI" TRANSLATE FILENAME)', not $expected"
  for file in $languages; do
    cmp -s "$folder/$file" "$share/kelvor/$file" || e2e_fail "a first start with $* did not copy $file"
  done
}
first_language deutsch.lan LANG=de_DE.UTF-8
first_language english.lan LANG=sw_KE.UTF-8
first_language english.lan
first_language italiano.lan LANG=de_DE.UTF-8 LC_MESSAGES=it_IT.UTF-8
first_language nederlands.lan LANG=de_DE.UTF-8 LC_MESSAGES=it_IT.UTF-8 LC_ALL=nl_NL.UTF-8
first_language francais.lan LANG=fr_CA.UTF-8 LC_MESSAGES= LC_ALL=
mkdir -p "$work/broken/bin"
cp "$bin/kelvor" "$work/broken/bin/"
"${nodisplay[@]}" "$work/broken/bin/kelvor" --folder "$work/bare" 2>"$work/err.txt" >/dev/null || true
grep -q 'needs a graphical desktop' "$work/err.txt" || e2e_fail "a broken install did not go on: $(cat "$work/err.txt")"
[ -d "$work/bare" ] && [ -z "$(ls -A "$work/bare")" ] || e2e_fail "a broken install put files in the folder"

# The first start from elsewhere in a new folder, on a German desktop: created, the shipped
# files copied, and ready to run: the copied deutsch.lan is the language file (no dialog
# asks), and a configuration at 9600 8N1 with frames ending at CR LF is the start-up
# configuration. The folder with a sound of its own above got no such thing.
[ -e "$work/mine/KELVOR.INI" ] && e2e_fail "a folder with files of its own was given a KELVOR.INI"
mkdir "$work/elsewhere"
cd "$work/elsewhere"
desk="$work/My Kelvor/desk"
env -u LC_ALL -u LC_MESSAGES LANG=de_DE.UTF-8 "$bin/kelvor" --folder "$desk" >"$work/kelvor.log" 2>&1 &
pid=$!
e2e_close_splash
main=$(e2e_wait_window '^NORDAL - Kelvor$')
for file in $languages sound/info.wav sound/touch.wav sound/start.wav; do
  cmp -s "$desk/$file" "$share/kelvor/$file" || e2e_fail "$file was not copied into the new folder"
done
sleep 1
xdotool search --onlyvisible --name '^Choose a language file$' >/dev/null 2>&1 && e2e_fail "the first start asked for a language file"
[ "$(e2e_ini "$desk/KELVOR.INI" TRANSLATE FILENAME)" = "$desk/deutsch.lan" ] ||
  e2e_fail "the copied deutsch.lan is not the language file on a German desktop"
ready=$(e2e_ini "$desk/KELVOR.INI" FILECONFIG RS232)
for pair in BAUDRATE=9600 DATABITS=8 PARITY=0 STOPBITS=1 SELECTENDOF=1 ENDOFCHAR=2 ENABLECLEAR=0 ENABLESERVERDDE=1; do
  [ "$(e2e_ini "$ready" "$([ "${pair%%=*}" = ENABLESERVERDDE ] && echo APP || echo COMMPORT)" "${pair%%=*}")" = "${pair#*=}" ] ||
    e2e_fail "the start-up configuration '$ready' lacks $pair"
done
[ -z "$(ls -A "$work/elsewhere")" ] || e2e_fail "Kelvor wrote into the folder it was started from"

# Started again in that folder, its COM1 an instrument sending CR LF, three readings in each
# write, ten a second: the installed kelvor-dde talks to it, [RUN] brings readings with nothing
# set by hand, every one of them (the reading log holds each counter once, in order, none
# starting with the line feed), and the server introspects as the installed interface
# description says.
wmctrl -ic "$main"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid" || e2e_fail "Kelvor closed from its window exited with status $?"
pid=""
"$bin/kelvor-sim" --link "$work/instrument" --format counter --burst 3 --interval 300 --terminator crlf >"$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$work/instrument" ] && break; sleep 0.1; done
printf '[PORTS]\r\nCOM1=%s\r\n[LOG]\r\nENABLE=1\r\n' "$work/instrument" >>"$desk/KELVOR.INI"
"$bin/kelvor" --folder "$desk" >"$work/kelvor.log" 2>&1 &
pid=$!
e2e_close_splash
e2e_wait_window '^NORDAL - Kelvor$' >/dev/null
"$bin/kelvor-dde" execute '[REQUEST]' || e2e_fail "the installed kelvor-dde got no answer"
[ "$("$bin/kelvor-dde" request)" = "$(printf '%127s' '')" ] || e2e_fail "ManualData after [REQUEST] is not 127 blanks"
"$bin/kelvor-dde" execute '[RUN]' || e2e_fail "[RUN] was not acknowledged"
got=""
for _ in $(seq 50); do
  got=$("$bin/kelvor-dde" request)
  [[ "$got" =~ ^[0-9]{7}\ g\ +$ ]] && break
  sleep 0.1
done
[[ "$got" =~ ^[0-9]{7}\ g\ +$ ]] || e2e_fail "the ready configuration gave no clean reading: $(printf '%q' "$got")"
sleep 2
"$bin/kelvor-dde" execute '[STOP]' || e2e_fail "[STOP] was not acknowledged"
kill "$sim"
wait "$sim" 2>/dev/null || true
python3 "$here/../outputs/check_counters.py" 15 "$desk"/readings/*.csv || e2e_fail "the ready configuration lost or spoiled readings"
gdbus introspect --session --dest dde.Kelvor --object-path / --xml >"$work/introspected.xml"
python3 - "$work/introspected.xml" "$share/dbus-1/interfaces/dde.Server.xml" <<'PY' || e2e_fail "the installed D-Bus interface differs from the server's"
import sys, xml.etree.ElementTree as ET
def members(path):
    node = ET.parse(path).getroot()
    interface = next(i for i in node.iter("interface") if i.get("name") == "dde.Server")
    return sorted((m.tag, m.get("name"), tuple((a.get("name"), a.get("type"), a.get("direction")) for a in m.iter("arg")))
                  for m in interface if m.tag in ("method", "signal", "property"))
served, installed = members(sys.argv[1]), members(sys.argv[2])
if served != installed:
    print("served:   ", served, "\ninstalled:", installed, file=sys.stderr)
    sys.exit(1)
PY
"$bin/kelvor-dde" execute '[APPCLOSE]' || e2e_fail "[APPCLOSE] was not acknowledged"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid" || e2e_fail "Kelvor closed by [APPCLOSE] exited with status $?"
pid=""

echo "install end-to-end: all checks passed"
