#!/usr/bin/env bash
# Puts Debian's source of the Mosquitto client library, its patches applied, in FOLDER
# (default ~/.cache/kelvor/mosquitto), where the Windows desk's build compiles it with
# mingw-w64: Debian ships the library built for Linux only. Adds Debian's source lists to apt
# when they are missing. A folder that holds the source already is kept as it is.
# Usage: tools/mosquitto-source.sh [FOLDER]
set -euo pipefail
folder=${1:-$HOME/.cache/kelvor/mosquitto}
[ -f "$folder/lib/mosquitto.c" ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if ! apt-get source --print-uris -qq mosquitto >/dev/null 2>&1; then
  echo "Adding Debian's source lists to apt (for the Mosquitto client library's source)"
  $sudo tee /etc/apt/sources.list.d/kelvor-debian-sources.sources >/dev/null <<'LIST'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
LIST
  $sudo apt-get update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# apt runs its download as the user _apt, who cannot write into a private temporary folder.
chmod 755 "$work"
(cd "$work" && apt-get source -qq mosquitto >/dev/null 2>&1) || {
  echo "mosquitto-source.sh: apt could not fetch Debian's source of mosquitto" >&2
  exit 1
}
mkdir -p "$(dirname "$folder")"
rm -rf "$folder"
mv "$work"/mosquitto-*/ "$folder"
echo "Mosquitto client library source: $(sed -n 's/^set (VERSION \(.*\))/\1/p' "$folder/CMakeLists.txt") in $folder"
