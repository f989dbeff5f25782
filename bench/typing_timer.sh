# Timing one typed reading, shared by the typing benchmarks. Source it; `out` is the file the
# receiving terminal writes and `expected` the text that must land there.

now() { date +%s.%N; }

# Runs "$@" and prints the seconds until the file holds exactly the expected text.
time_one() {
  : >"$out"
  local start end deadline=$(($(date +%s) + 20))
  start=$(now)
  "$@"
  while [ "$(stat -c %s "$out")" -lt ${#expected} ] && [ "$(date +%s)" -lt $deadline ]; do sleep 0.002; done
  end=$(now)
  sleep 0.05
  if ! cmp -s "$out" <(printf '%s' "$expected"); then
    echo "text did not land exactly for: $1" >&2
    od -c "$out" | head >&2
    exit 1
  fi
  echo "$end - $start" | bc -l
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
