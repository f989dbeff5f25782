#!/usr/bin/env bash
# The core includes only the C++ standard library (and the header-only JSON library): no Qt,
# no operating-system header, no header of a desk's folder. Fails naming each include that is
# not, so that the core keeps compiling for every desktop.
set -euo pipefail
cd "$(dirname "$0")/.."

standard=" algorithm any array atomic barrier bit bitset cassert ccomplex cctype cerrno cfenv cfloat charconv
chrono cinttypes climits clocale cmath codecvt compare complex concepts condition_variable coroutine csetjmp
csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution
expected filesystem format forward_list fstream functional future initializer_list iomanip ios iosfwd iostream
istream iterator latch limits list locale map memory memory_resource mutex new numbers numeric optional ostream
queue random ranges ratio regex scoped_allocator semaphore set shared_mutex source_location span sstream stack
stdexcept stop_token streambuf string string_view syncstream system_error thread tuple type_traits typeindex
typeinfo unordered_map unordered_set utility valarray variant vector version nlohmann/json.hpp "

standard=" $(echo $standard) "  # one blank between names
status=0
while IFS= read -r line; do
  file=${line%%:*}
  header=$(sed -E 's/.*#include[[:space:]]*<([^>]+)>.*/\1/' <<<"$line")
  if [[ "$standard" != *" $header "* ]]; then
    echo "$file includes <$header>: the core includes only the standard library" >&2
    status=1
  fi
done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<' core || true)
while IFS= read -r line; do
  echo "$line: the core includes no header of a desk's folder" >&2
  status=1
done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(linux|windows|mqtt|tests)/' core || true)
[ "$status" -eq 0 ] && echo "core/: standard library headers only"
exit "$status"
