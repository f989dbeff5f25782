#!/usr/bin/env bash
# Settings files against kill -9 and full disks. A writer of settings (the calls Kelvor makes
# for "Save configuration as" and for a window move) is killed at random moments, again and
# again, in a writable folder and in one where only the files are writable (as root, who
# writes anywhere, a small tmpfs whose inodes are all taken). After each kill every file
# parses and holds its old or its new content, complete, and at most one temporary file is
# left per file, which the next write to that file removes. On a full disk a write leaves the old content.
# Usage: settings_kill_e2e.sh PATH/TO/settings_writer
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e_lib.sh"
writer=$(readlink -f "$1")
kills=${KELVOR_KILLS:-80}

work=$(mktemp -d)
mounts=()
cleanup() {
  for m in "${mounts[@]}"; do umount -l "$m" 2>/dev/null || true; done
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

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

# A folder where no file can be made but the seeded ones can be written.
only_files_writable() {
  local folder=$1
  mkdir -p "$folder"
  if [ "$(id -u)" != 0 ]; then
    seed "$folder"
    chmod 555 "$folder"
    return 0
  fi
  mount -t tmpfs -o size=1m,nr_inodes=64 tmpfs "$folder" 2>/dev/null || return 1
  mounts+=("$folder")
  seed "$folder"
  local i=0
  while { : >"$folder/filler$i"; } 2>/dev/null; do i=$((i + 1)); done
}

mkdir "$work/writable"
seed "$work/writable"
kill_loop "$work/writable"
echo "writable folder: $kills kills, every file whole"

if only_files_writable "$work/readonly"; then
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
echo "settings against kill -9 and full disks: all checks passed"
