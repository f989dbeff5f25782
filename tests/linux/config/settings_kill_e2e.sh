#!/usr/bin/env bash
# Settings files against kill -9 and full disks. A writer of settings (the calls Kelvor makes
# for "Save configuration as" and for a window move) is killed at random moments, again and
# again, in a writable folder and in one where only the files are writable (as root, who
# writes anywhere, a small tmpfs whose inodes are all taken). After each kill every file
# parses and holds its old or its new content, complete, and at most one temporary file is
# left per file, which the next write to that file removes. On a full disk a write leaves the old content.
# Then the same against the real program on the private desktop of tests/linux/headless.sh: killed
# while it saves through its "Save configuration as" dialog and while its strip is dragged about.
# Usage: settings_kill_e2e.sh PATH/TO/settings_writer PATH/TO/kelvor
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
writer=$(readlink -f "$1")
kelvor=$(readlink -f "$2")
kills=${KELVOR_KILLS:-80}
real_kills=${KELVOR_REAL_KILLS:-6}

mounts=()
e2e_on_exit() { for m in "${mounts[@]}"; do umount -l "$m" 2>/dev/null || true; done; }
e2e_scratch kelvor_pid tracer

# The configuration is either ALPHA or BETA, complete, with the user's own section kept.
check_klv() {
  local file=$1 name
  name=$(e2e_ini "$file" APP NAME)
  case "$name" in
    ALPHA) expected="0 9600 0 /s.wav " ;;
    BETA) expected="1 -27136 1  /a/longer/path/to/the/key/sound.wav" ;;
    *) e2e_fail "$file holds the name '$name' after a kill: $(head -c 300 "$file")" ;;
  esac
  got="$(e2e_ini "$file" COMMPORT PORT) $(e2e_ini "$file" COMMPORT BAUDRATE) $(e2e_ini "$file" SOUND SOUNDENABLE)"
  got="$got $(e2e_ini "$file" SOUND FILESOUNDDDE) $(e2e_ini "$file" SOUND FILESOUNDKEY)"
  [ "$got" = "$expected" ] || e2e_fail "$file is torn after a kill: $name with '$got'"
  [ "$(e2e_ini "$file" USER keep)" = yes ] || e2e_fail "$file lost a section of its own"
}

# The position is whole (PosX equals PosY, as the writer writes them) and the rest is kept.
check_ini() {
  local file=$1 x y
  x=$(e2e_ini "$file" SCREEN PosX)
  y=$(e2e_ini "$file" SCREEN PosY)
  [[ "$x" =~ ^[0-9]+$ ]] && [ "$x" = "$y" ] || e2e_fail "$file holds the position '$x','$y' after a kill"
  [ "$(e2e_ini "$file" FILECONFIG RS232)" = /cfg.KLV ] && [ "$(e2e_ini "$file" PORTS COM1)" = /dev/ttyUSB0 ] ||
    e2e_fail "$file lost other keys after a kill: $(cat "$file")"
}

seed() {
  local folder=$1
  "$writer" save "$folder/CONFIG.KLV" 1
  printf '[USER]\nkeep=yes\n' >>"$folder/CONFIG.KLV"
  printf '[FILECONFIG]\nRS232=/cfg.KLV\n[SCREEN]\nPosX=7\nPosY=7\n[PORTS]\nCOM1=/dev/ttyUSB0\n' >"$folder/KELVOR.INI"
}

temporaries() { find "$1" -name '*.kelvor-tmp' | wc -l; }

# Kills the writer at random moments and checks what it leaves.
kill_loop() {
  local folder=$1 mode file check round
  for round in $(seq "$kills"); do
    if [ $((round % 2)) = 0 ]; then mode=save file=CONFIG.KLV check=check_klv; else mode=move file=KELVOR.INI check=check_ini; fi
    "$writer" "$mode" "$folder/$file" &
    local pid=$!
    sleep "$(printf '0.%03d' $((RANDOM % 60)))"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    $check "$folder/$file"
    [ "$(temporaries "$folder")" -le 2 ] || e2e_fail "temporary files pile up in $folder: $(ls "$folder")"
  done
  "$writer" save "$folder/CONFIG.KLV" 2
  "$writer" move "$folder/KELVOR.INI" 2
  [ "$(temporaries "$folder")" = 0 ] || e2e_fail "a temporary file outlived the next write in $folder"
}

# A folder where no file can be made but the ones SEEDER puts there can be written.
only_files_writable() {
  local folder=$1 seeder=$2
  mkdir -p "$folder"
  if [ "$(id -u)" != 0 ]; then
    $seeder "$folder"
    chmod 555 "$folder"
    return 0
  fi
  mount -t tmpfs -o size=1m,nr_inodes=64 tmpfs "$folder" 2>/dev/null || return 1
  mounts+=("$folder")
  $seeder "$folder"
  local i=0
  while { : >"$folder/filler$i"; } 2>/dev/null; do i=$((i + 1)); done
}

mkdir "$work/writable"
seed "$work/writable"
kill_loop "$work/writable"
echo "writable folder: $kills kills, every file whole"

if only_files_writable "$work/readonly" seed; then
  kill_loop "$work/readonly"
  echo "folder without room for a new file: $kills kills, every file whole"
else
  echo "skipped the folder where only the files are writable: no tmpfs can be mounted here"
fi

# A full disk: the old content stays, whether the write goes through a temporary file or in
# place (where it may also succeed, never needing more room than the old content had).
if [ "$(id -u)" = 0 ] && mkdir "$work/full" && mount -t tmpfs -o size=256k,nr_inodes=64 tmpfs "$work/full" 2>/dev/null; then
  mounts+=("$work/full")
  seed "$work/full"
  cp "$work/full/CONFIG.KLV" "$work/old.KLV"
  dd if=/dev/zero of="$work/full/filler" bs=4k 2>/dev/null || true
  "$writer" save "$work/full/CONFIG.KLV" 2
  cmp -s "$work/full/CONFIG.KLV" "$work/old.KLV" || e2e_fail "a save on a full disk changed the file"
  [ "$(temporaries "$work/full")" = 0 ] || e2e_fail "a save on a full disk left a temporary file"
  i=0
  while { : >"$work/full/empty$i"; } 2>/dev/null; do i=$((i + 1)); done
  "$writer" move "$work/full/KELVOR.INI" 50
  check_ini "$work/full/KELVOR.INI"
  echo "full disk: the old content stays"
fi

# The real program. Its configuration CONFIG (START.KLV, outside the folder) is saved over
# CONFIG.KLV, which holds other settings and a section of the user's own; its KELVOR.INI has
# the position first and the devices last, so that a cut file shows.
e2e_configuration "$work/START.KLV" NAME=CONFIG BAUDRATE=19200 ENABLESENDKEY=1
cp "$here/../../../resources/lang/english.lan" "$work/"
seed_real() {
  local folder=$1
  e2e_configuration "$folder/CONFIG.KLV" NAME=CONFIG BAUDRATE=4800
  printf '[USER]\nkeep=yes\n' >>"$folder/CONFIG.KLV"
  printf '[SCREEN]\nPosX=40\nPosY=40\n[FILECONFIG]\nRS232=%s\n[TRANSLATE]\nFILENAME=%s\n[PORTS]\nCOM1=/dev/ttyUSB0\n' \
    "$work/START.KLV" "$work/english.lan" >"$folder/KELVOR.INI"
}

# Starts the program in FOLDER; `strip` is its strip's window.
start_kelvor() {
  (cd "$1" && exec "$kelvor") >>"$work/kelvor.log" 2>&1 &
  kelvor_pid=$!
  e2e_close_splash
  strip=$(e2e_wait_window '^NORDAL - Kelvor$' 10)
}

at_write=0
kill_kelvor() {
  kill -0 "$kelvor_pid" 2>/dev/null || at_write=$((at_write + 1))
  kill -9 "$kelvor_pid" 2>/dev/null || true
  wait "$kelvor_pid" 2>/dev/null || true
  [ -z "$tracer" ] || { kill "$tracer" 2>/dev/null || true; wait "$tracer" 2>/dev/null || true; }
  kelvor_pid="" tracer=""
}

# A kill timed by a clock rarely lands inside a write that takes microseconds, so strace also
# kills the program as it enters its Nth write to a file (pwrite64) or its Nth rename, before
# the call is made; the clock's kill follows in case N is never reached.
kill_at_write() {
  strace -qq -f -o /dev/null -p "$kelvor_pid" -e trace=pwrite64,rename \
    -e inject=pwrite64,rename:signal=KILL:when="$1" &
  tracer=$!
  sleep 0.3  # attached
}

# "Save configuration as" from the strip's menu: the dialog proposes CONFIG.KLV in the working
# folder; Return takes it and "y" answers that it may be replaced.
save_as() {
  e2e_menu_item "$1" 8
  local dialog
  dialog=$(e2e_wait_window '^Save configuration as$' 10)
  xdotool windowactivate --sync "$dialog" key --clearmodifiers Return
  sleep 0.5
  xdotool key --clearmodifiers y
}

# Drags the strip about: every move rewrites the position in KELVOR.INI.
move_about() {
  local i
  for i in $(seq 40); do
    xdotool windowmove "$1" $((40 + i * 13 % 600)) $((40 + i * 29 % 500)) 2>/dev/null || return 0
    sleep 0.02
  done
}

# KELVOR.INI with a whole position and the rest as seeded.
check_real_ini() {
  local file=$1 x y
  x=$(e2e_ini "$file" SCREEN PosX)
  y=$(e2e_ini "$file" SCREEN PosY)
  [[ "$x" =~ ^-?[0-9]+$ && "$y" =~ ^-?[0-9]+$ ]] || e2e_fail "$file holds the position '$x','$y' after a kill: $(cat "$file")"
  [ "$(e2e_ini "$file" TRANSLATE FILENAME)" = "$work/english.lan" ] && [ "$(e2e_ini "$file" PORTS COM1)" = /dev/ttyUSB0 ] ||
    e2e_fail "$file lost other keys after a kill: $(cat "$file")"
}

# Two files with the same lines, but for the blanks that a write in place pads with (a file
# written in place never gets shorter).
same_settings() {
  cmp -s <(sed 's/[ \t\r]*$//; /^$/d' "$1") <(sed 's/[ \t\r]*$//; /^$/d' "$2")
}

real_kill_loop() {
  local folder=$1 round
  cp "$folder/CONFIG.KLV" "$work/before.KLV"
  # One save that is not killed gives the complete new content.
  start_kelvor "$folder"
  save_as "$strip"
  for _ in $(seq 50); do same_settings "$folder/CONFIG.KLV" "$work/before.KLV" || break; sleep 0.1; done
  sleep 0.3
  kill_kelvor
  cp "$folder/CONFIG.KLV" "$work/after.KLV"
  [ "$(e2e_ini "$work/after.KLV" COMMPORT BAUDRATE)" = 19200 ] && [ "$(e2e_ini "$work/after.KLV" USER keep)" = yes ] ||
    e2e_fail "the save through the dialog did not write the configuration: $(cat "$work/after.KLV")"
  for round in $(seq "$real_kills"); do
    cat "$work/before.KLV" >"$folder/CONFIG.KLV"
    start_kelvor "$folder"
    kill_at_write $((1 + RANDOM % 3))
    save_as "$strip"
    sleep "$(printf '0.%03d' $((RANDOM % 250)))"
    kill_kelvor
    same_settings "$folder/CONFIG.KLV" "$work/before.KLV" || same_settings "$folder/CONFIG.KLV" "$work/after.KLV" ||
      e2e_fail "CONFIG.KLV is neither its old nor its new content after a kill: $(cat "$folder/CONFIG.KLV")"
    check_real_ini "$folder/KELVOR.INI"

    start_kelvor "$folder"
    kill_at_write $((1 + RANDOM % 60))
    move_about "$strip" &
    local mover=$!
    sleep "$(printf '0.%03d' $((100 + RANDOM % 700)))"
    kill_kelvor
    wait "$mover" 2>/dev/null || true
    check_real_ini "$folder/KELVOR.INI"
    [ "$(temporaries "$folder")" -le 2 ] || e2e_fail "temporary files pile up in $folder: $(ls "$folder")"
  done
  # The next writes of each file leave no temporary file behind.
  start_kelvor "$folder"
  xdotool windowmove "$strip" 200 200
  save_as "$strip"
  for _ in $(seq 50); do same_settings "$folder/CONFIG.KLV" "$work/after.KLV" && break; sleep 0.1; done
  sleep 0.3
  kill_kelvor
  check_real_ini "$folder/KELVOR.INI"
  [ "$(temporaries "$folder")" = 0 ] || e2e_fail "a temporary file outlived the next write in $folder: $(ls "$folder")"
}

mkdir "$work/real"
seed_real "$work/real"
real_kill_loop "$work/real"
echo "the real program, writable folder: $real_kills kills while saving and $real_kills while moving ($at_write as it wrote), every file whole"
if only_files_writable "$work/real-readonly" seed_real; then
  real_kill_loop "$work/real-readonly"
  echo "the real program, folder without room for a new file: the same ($at_write in all as it wrote), every file whole"
  # Then the disk fills up too: the save needs room beyond the configuration's last page (it
  # is padded to just under 4 KiB), so it fails and says so, and the old content stays.
  full_before=$work/full-before.KLV
  { cat "$work/before.KLV"; printf '[PAD]\nnote=%s\n' "$(head -c $((4080 - $(stat -c %s "$work/before.KLV") - 16)) /dev/zero | tr '\0' x)"; } >"$full_before"
  cat "$full_before" >"$work/real-readonly/CONFIG.KLV"
  dd if=/dev/zero of="$work/real-readonly/filler0" bs=4k 2>/dev/null || true
  start_kelvor "$work/real-readonly"
  save_as "$strip"
  for _ in $(seq 50); do grep -q "could not be saved" "$work/kelvor.log" && break; sleep 0.1; done
  grep -q "could not be saved to .*: No space left on device" "$work/kelvor.log" ||
    e2e_fail "a save on a full disk was not reported with its cause: $(grep -i save "$work/kelvor.log")"
  kill_kelvor
  same_settings "$work/real-readonly/CONFIG.KLV" "$full_before" ||
    e2e_fail "a save on a full disk changed the file: $(cat "$work/real-readonly/CONFIG.KLV")"
  echo "the real program, full disk: the failed save is reported and the old content stays"
fi
echo "settings against kill -9 and full disks: all checks passed"
