#include "core/diagnostics/repeat_bound.h"

namespace kelvor {
namespace {

constexpr std::size_t kMostCauses = 256;
constexpr std::size_t kLongestCause = 200;

bool powerOfTen(std::uint64_t n) {
  while (n >= 10 && n % 10 == 0) n /= 10;
  return n == 1;
}

}  // namespace

std::string RepeatBound::line(const std::string& message) {
  const std::string cause = message.substr(0, kLongestCause);
  std::uint64_t* count = nullptr;
  auto it = counts_.find(cause);
  if (it != counts_.end()) {
    count = &it->second;
  } else if (counts_.size() < kMostCauses) {
    count = &counts_.emplace(cause, 0).first->second;
  } else {
    const std::uint64_t n = ++others_;
    if (n <= shownInFull_) return message;
    return powerOfTen(n) ? "(" + std::to_string(n) + " messages of other causes so far; only the first few are shown)"
                         : std::string();
  }
  const std::uint64_t n = ++*count;
  if (n <= shownInFull_) return message;
  if (!powerOfTen(n)) return {};
  return message + " (" + std::to_string(n) + " times so far; only the first few and the counts are shown)";
}

}  // namespace kelvor
