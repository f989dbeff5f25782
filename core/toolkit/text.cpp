#include "core/toolkit/text.h"

#include <limits>

#include "core/toolkit/encoding.h"

namespace kelvor {

std::string trimRight(std::string_view s) {
  const auto end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

std::string padRight(std::string_view s, std::size_t width) {
  std::string out(s.substr(0, std::min(s.size(), width)));
  out.resize(width, ' ');
  return out;
}

std::string leadingCharacters(std::string_view bytes, std::size_t count) {
  std::string utf8 = displayText(bytes);
  std::size_t end = 0;
  for (std::size_t characters = 0; end < utf8.size() && characters < count; ++characters) {
    ++end;
    while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
  }
  utf8.resize(end);
  return utf8;
}

std::string substring(std::string_view s, long long start, long long length) {
  const auto size = static_cast<long long>(s.size());
  if (start == 0) start = 1;
  if (start < 0) start = std::max(1LL, size + start + 1);
  if (start > size) return {};
  const long long remaining = size - start + 1;
  if (length < 0 || length > remaining) length = remaining;
  return std::string(s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length)));
}

long long readNumber(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && s[i] == '-') {
    negative = true;
    ++i;
  }
  constexpr long long kLimit = std::numeric_limits<long long>::max() / 10 - 10;
  long long value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (value < kLimit) value = value * 10 + (s[i] - '0');
  }
  return negative ? -value : value;
}

std::string writeNumber(long long value) { return std::to_string(value); }

std::string upperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace kelvor
