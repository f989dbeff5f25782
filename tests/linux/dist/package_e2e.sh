#!/usr/bin/env bash
# The Debian package as the README builds it: made by CPack from the build, checked with
# lintian, unpacked into a temporary root and run from there, away from the build and the
# source: --version without a display, and the strip under the private X server, fed by the
# packaged shipped files.
# Usage: package_e2e.sh BUILD-DIR VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
build=$(readlink -f "$1")
version=$2

e2e_scratch pid

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >cpack.log 2>&1 || e2e_fail "cpack failed: $(cat cpack.log)"
deb="$work/package/kelvor_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || e2e_fail "no package $(basename "$deb"): $(ls "$work/package")"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = kelvor ] && [ "$(field Version)" = "$version" ] && [ "$(field Section)" = science ] &&
  [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || e2e_fail "wrong control fields: $(field)"
for library in libqt6widgets6 libqt6dbus6 libqt6multimedia6 libxtst6 libc6; do
  # grep reads to the end (no -q): one that quits early would make dpkg-deb fail with SIGPIPE,
  # and pipefail would count that as no match.
  field Depends | grep "$library" >/dev/null || e2e_fail "the package does not depend on $library: $(field Depends)"
done
field Description | grep 'DDE server' >/dev/null || e2e_fail "the package has no long description"
# Nothing of the build machine in the package: no build or source path, no RPATH.
dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v '^\./usr/' && e2e_fail "files outside /usr"

lintian --tag-display-limit 0 "$deb" >lintian.log 2>&1 || true
# No error and no warning, the maintainer's form included.
complaints=$(grep -E '^[EW]: ' lintian.log || true)
[ -z "$complaints" ] || e2e_fail "lintian complains: $complaints"
[ "$(field Maintainer)" = "Kelvor project <kelvor@example.org>" ] || e2e_fail "the maintainer is $(field Maintainer)"

dpkg-deb -x "$deb" "$work/root"
bin="$work/root/usr/bin"
for program in kelvor kelvor-dde kelvor-sim; do
  readelf -d "$bin/$program" | grep -q 'R.*PATH' && e2e_fail "$program keeps a library search path"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/$program" --version) ||
    e2e_fail "the packaged $program --version failed"
  [ "$out" = "$program $version" ] || e2e_fail "the packaged $program --version printed '$out'"
done

# The window, from the unpacked package, in a new folder that it fills from the package's
# own share/kelvor/ and makes ready to run (no language dialog), on a desktop in a language
# Kelvor has no file for: English, with every language file at hand for the menu.
desk="$work/desk"
env -u LC_ALL -u LC_MESSAGES LANG=sw_KE.UTF-8 "$bin/kelvor" --folder "$desk" >kelvor.log 2>&1 &
pid=$!
e2e_close_splash
main=$(e2e_wait_window '^NORDAL - Kelvor$')
for file in $(cd "$here/../../../resources/lang" && ls ./*.lan) sound/start.wav; do
  cmp -s "$desk/$file" "$work/root/usr/share/kelvor/$file" || e2e_fail "the packaged kelvor did not copy its shipped $file"
done
[ "$(e2e_ini "$desk/KELVOR.INI" TRANSLATE FILENAME)" = "$desk/english.lan" ] ||
  e2e_fail "the packaged kelvor did not take its shipped english.lan for an unknown language"
wmctrl -ic "$main"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid" || e2e_fail "the packaged kelvor exited with status $?: $(cat kelvor.log)"
pid=""

echo "package end-to-end: all checks passed"
