#!/usr/bin/env bash
# Installs, with apt, every Debian 12 package that building, running and testing Kelvor
# needs; packages already present are skipped, so a second run costs nothing.
set -euo pipefail

packages=(
  # build
  cmake g++ make ccache pkg-config python3
  qt6-base-dev qt6-multimedia-dev libgl-dev libxtst-dev libx11-dev libdbus-1-dev
  libwayland-dev libwayland-bin libxkbcommon-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # MQTT publishing: the Mosquitto client library; the broker, its command-line clients and
  # openssl (the TLS test's certificates) for the tests and the benchmark
  libmosquitto-dev mosquitto mosquitto-clients openssl
  # the fuzz targets (tools/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
  # running and testing headless: X server, window manager, typing, bus, screenshots, sound
  xvfb xauth openbox xdotool wmctrl xterm x11-xkb-utils x11-utils dbus libglib2.0-bin imagemagick
  pulseaudio pulseaudio-utils fonts-dejavu-core qt6-qpa-plugins libqt6multimedia6
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # packaging, and the checks of the install and the package
  dpkg-dev file lintian desktop-file-utils appstream man-db
  # the settings kill test stops the program right at one of its writes
  strace
  # the JSON of MQTT readings (header-only, for both desks)
  nlohmann-json3-dev
  # the Windows desk: mingw-w64 with POSIX threads, GoogleTest's sources to build with it, and
  # Wine to run the Windows programs and tests
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine64
  # the Windows installer
  nsis
  # Wayland: Qt's Wayland platform for Kelvor's windows; a headless compositor, a terminal
  # that receives the typing, screenshots, and wtype for the typing benchmark
  qt6-wayland sway foot grim wtype
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Windows desk compiles the Mosquitto client library from Debian's source of it.
"$(dirname "$0")/mosquitto-source.sh"
