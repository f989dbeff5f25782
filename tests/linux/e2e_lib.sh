# Helpers for end-to-end scripts that drive the real program on the private desktop of
# tests/linux/headless.sh. Source it; every wait is bounded, so a broken program fails the test
# instead of hanging it.

e2e_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

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

# Makes the run's scratch folder, $work, and changes into it. At exit the processes whose ids
# the named variables then hold (one or more each) are ended, the script's own e2e_on_exit
# runs where it defines one, and the folder goes (kept when KELVOR_E2E_KEEP is set).
# Usage: e2e_scratch [PID-VARIABLE ...]
e2e_scratch() {
  local name
  work=$(mktemp -d)
  e2e_pid_names=("$@")
  for name in "$@"; do printf -v "$name" '%s' ""; done
  trap e2e_cleanup EXIT
  cd "$work"
}

e2e_cleanup() {
  local name
  # A variable may hold several ids, separated by blanks.
  # shellcheck disable=SC2086
  for name in "${e2e_pid_names[@]}"; do [ -z "${!name}" ] || kill ${!name} 2>/dev/null || true; done
  wait 2>/dev/null || true
  if declare -F e2e_on_exit >/dev/null; then e2e_on_exit; fi
  if [ -n "${KELVOR_E2E_KEEP:-}" ]; then
    echo "kept: $work" >&2
  else
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
  fi
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

# Writes a configuration file: the settings end-to-end tests start from (DDE server on, no
# keystrokes, COM1 at 9600 bits/s 8N1, frames cut at CR, sounds off), changed by the
# KEY=VALUE pairs given after the file name.
# Usage: e2e_configuration FILE [KEY=VALUE ...]
e2e_configuration() {
  local file=$1 key pair
  shift
  local -A value=([NAME]=E2E [ENABLESENDKEY]=0 [ENABLESERVERDDE]=1 [SENDORREQUEST]=0 [PORT]=0 [AUTO]=0
    [BAUDRATE]=9600 [PARITY]=0 [DATABITS]=8 [STOPBITS]=1 [SELECTENDOF]=1 [ENDOFCHAR]=1 [SOUNDENABLE]=0)
  for pair in "$@"; do value[${pair%%=*}]=${pair#*=}; done
  local app=" NAME ENABLESENDKEY ENABLESERVERDDE SENDORREQUEST "
  local sound=" SOUNDENABLE ENABLEDDESOUND FILESOUNDDDE ENABLEKEYSOUND FILESOUNDKEY "
  {
    echo "[APP]"
    for key in $app; do if [ -n "${value[$key]+set}" ]; then echo "$key=${value[$key]}"; fi; done
    echo "[COMMPORT]"
    for key in "${!value[@]}"; do
      [[ $app == *" $key "* || $sound == *" $key "* ]] || echo "$key=${value[$key]}"
    done
    echo "[SOUND]"
    for key in $sound; do if [ -n "${value[$key]+set}" ]; then echo "$key=${value[$key]}"; fi; done
  } >"$file"
}

# Lays out the working folder of a run in the current directory: the shipped english.lan and
# a KELVOR.INI naming CONFIG as the start-up configuration and mapping COM1, COM2, ... to the
# devices given.
# Usage: e2e_workspace CONFIG [COM1-DEVICE [COM2-DEVICE ...]]
e2e_workspace() {
  local config=$1 n=1 device
  shift
  cp "$e2e_lib_dir/../../resources/lang/english.lan" .
  {
    printf '[FILECONFIG]\nRS232=%s\n[TRANSLATE]\nFILENAME=%s\n' "$PWD/$config" "$PWD/english.lan"
    if [ $# -gt 0 ]; then
      echo "[PORTS]"
      for device in "$@"; do echo "COM$n=$device"; n=$((n + 1)); done
    fi
  } >KELVOR.INI
}

# Chooses the Nth item of the strip's popup menu (items counted without separators), the way
# a person does: a click on the menu button, then the arrow keys and Return.
# Usage: e2e_menu_item STRIP-WINDOW N
e2e_menu_item() {
  local keys=()
  xdotool mousemove --window "$1" 236 38 click 1
  sleep 0.5
  for _ in $(seq "$2"); do keys+=(Down); done
  xdotool key "${keys[@]}" Return
}
