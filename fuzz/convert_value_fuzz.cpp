// The value conversion on any reading. The result is always a plain decimal number of at
// most 14 significant digits (an exponent where one is needed), and converting it again
// changes nothing.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "core/line/receive_pipeline.h"

namespace {

bool looksLikeANumber(const std::string& s) {
  if (s.empty() || s.size() > 24) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '-' || c == '.' || c == 'e' || c == '+')) return false;
  }
  return s.back() != '.' && s != "-0";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reading(reinterpret_cast<const char*>(data), size);
  const std::string value = kelvor::convertValue(reading);
  FUZZ_CHECK(looksLikeANumber(value), "\"%s\" is not a plain number", value.c_str());
  const std::string again = kelvor::convertValue(value);
  FUZZ_CHECK(again == value, "\"%s\" converted again gives \"%s\"", value.c_str(), again.c_str());
  return 0;
}
