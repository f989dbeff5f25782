#!/bin/bash
# Sourced by the Windows end-to-end scripts when they run on their own: a private Wine
# prefix under $1, an Xvfb display of its own, the Wine server started detached (a server
# started by a test's first Wine process would hold the test's output open). wine_session_end
# stops all of it.
wine_session_start() {
  export WINEPREFIX=$1/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
  local display
  for display in $(seq 121 160); do
    [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ] || break
  done
  Xvfb ":$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
  WINE_SESSION_XVFB=$!
  export DISPLAY=:$display
  mkdir -p "$WINEPREFIX"
  setsid /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  setsid /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
}
wine_session_end() {
  /usr/lib/wine/wineserver -k 2>/dev/null
  [ -n "${WINE_SESSION_XVFB:-}" ] && kill "$WINE_SESSION_XVFB" 2>/dev/null
}
