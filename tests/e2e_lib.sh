# Helpers for end-to-end scripts that drive the real program on the private desktop of
# tests/headless.sh. Source it; every wait is bounded, so a broken program fails the test
# instead of hanging it.

# Prints the id of the first visible window whose name matches the pattern, waiting up to
# $2 seconds (default 20); fails when none appears.
e2e_wait_window() {
  local pattern=$1 limit=${2:-20} id=""
  local deadline=$((SECONDS + limit))
  while [ $SECONDS -lt $deadline ]; do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  echo "no window named '$pattern' appeared within ${limit}s" >&2
  return 1
}

# Waits until no visible window matches the pattern.
e2e_wait_gone() {
  local pattern=$1 limit=${2:-20}
  local deadline=$((SECONDS + limit))
  while [ $SECONDS -lt $deadline ]; do
    xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  echo "window '$pattern' still there after ${limit}s" >&2
  return 1
}

# The splash: Kelvor's captionless 788 x 398 window. Clicks it, as a person would, and waits
# until it has gone.
e2e_close_splash() {
  local deadline=$((SECONDS + 20)) id
  while [ $SECONDS -lt $deadline ]; do
    for id in $(xdotool search --onlyvisible --class kelvor 2>/dev/null); do
      if xdotool getwindowgeometry "$id" 2>/dev/null | grep -q 'Geometry: 788x398'; then
        xdotool mousemove --window "$id" 200 200 click 1
        sleep 0.3
        if ! xdotool getwindowgeometry "$id" >/dev/null 2>&1 ||
          ! xdotool search --onlyvisible --class kelvor 2>/dev/null | grep -qx "$id"; then
          return 0
        fi
      fi
    done
    # No splash in this build, and the strip already shows: nothing to close.
    xdotool search --onlyvisible --name '^NORDAL - Kelvor$' >/dev/null 2>&1 && return 0
    xdotool search --onlyvisible --name '^\[SELECTLANGFILE\]$' >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  echo "the splash did not close" >&2
  return 1
}

# Fails the test with a message.
e2e_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The value of KEY in SECTION of an ini file (first match, names without regard to case).
e2e_ini() {
  awk -v s="$2" -v k="$3" 'BEGIN{IGNORECASE=1}
    /^[ \t]*\[/{gsub(/^[ \t]*\[|\].*$/,""); ins=(tolower($0)==tolower(s)); next}
    ins && index($0,"=") {key=substr($0,1,index($0,"=")-1); gsub(/^[ \t]+|[ \t]+$/,"",key);
      if (tolower(key)==tolower(k)) {v=substr($0,index($0,"=")+1); gsub(/^[ \t]+|[ \t\r]+$/,"",v); print v; exit}}' "$1"
}
