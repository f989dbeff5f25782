#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/: libFuzzer with the address and undefined-behaviour
# sanitizers, compiled by clang in build-fuzz/, apart from the program's own build) and runs
# each in turn, one at a time.
#
# Usage: tools/fuzz.sh [SECONDS] [TARGET...]
#   without SECONDS  the regression run of ./test.sh: every committed input of each target,
#                    then a few seconds of fuzzing from them
#   SECONDS          each target fuzzes that long (tools/fuzz.sh 600: ten minutes each); what
#                    it finds new is kept in build-fuzz/corpus/TARGET for the next long run
#   TARGET           profile_file configuration translate receive_pipeline convert_value
#                    command wav sim_options dde_bus_message (default: all)
#
# A crash, a sanitizer report or a broken property stops that target, keeps the input in
# build-fuzz/crashes/, and makes the script exit 1. Put such an input into
# fuzz/corpus/TARGET/ with the fix, so the regression run tries it on every change.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=3
long=0
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  long=1
  shift
fi
all=(profile_file configuration translate receive_pipeline convert_value command wav sim_options dde_bus_message)
targets=("${@:-${all[@]}}")

./tools/install-deps.sh
build=build-fuzz
cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzz}" >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  echo "the fuzz targets did not build" >&2
  exit 1
fi

# The targets write their files on a memory file system where there is one.
scratch_base=/dev/shm
[ -w "$scratch_base" ] || scratch_base=$PWD/$build
export KELVOR_FUZZ_SCRATCH
KELVOR_FUZZ_SCRATCH=$(mktemp -d "$scratch_base/kelvor-fuzz.XXXXXX")
fresh=$(mktemp -d)
trap 'rm -rf "$KELVOR_FUZZ_SCRATCH" "$fresh"' EXIT
mkdir -p "$build/crashes"

dictionary() {
  case $1 in
    profile_file | configuration | translate) echo "-dict=fuzz/dict/profile_file.dict" ;;
    command) echo "-dict=fuzz/dict/command.dict" ;;
    sim_options) echo "-dict=fuzz/dict/sim_options.dict" ;;
    dde_bus_message) echo "-dict=fuzz/dict/dde_bus_message.dict" ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  committed=fuzz/corpus/$target
  [ -d "$committed" ] || { echo "$target: no corpus in $committed" >&2; status=1; continue; }
  # New inputs go to the first folder: a throw-away one for the regression run, the kept
  # local corpus for a long run.
  found=$fresh/$target
  [ "$long" = 1 ] && found=$build/corpus/$target
  mkdir -p "$found"
  log=$build/$target.log
  # shellcheck disable=SC2046  # the dictionary option is one word or none
  if "$build/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$target-" $(dictionary "$target") "$found" "$committed" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "$target: ${runs:-?} executions in ${seconds} s, ${rate:-?} a second," \
      "$(ls "$committed" | wc -l) committed inputs, $(ls "$found" | wc -l) new"
  else
    echo "=== $target FAILED (log: $log)" >&2
    grep -a -E -A12 'property broken|ERROR: |runtime error|SUMMARY' "$log" | head -40 >&2 || tail -20 "$log" >&2
    ls -t "$build"/crashes/"$target"-* 2>/dev/null | head -1 | sed 's/^/input kept: /' >&2
    status=1
  fi
done
exit "$status"
