#include "core/toolkit/message_lines.h"

#include <algorithm>

#include "core/toolkit/text.h"

namespace kelvor {
namespace {

constexpr std::size_t kLineWidth = 50;

}  // namespace

MessageLines messageLines(std::string_view text) {
  MessageLines lines;
  for (int n = 0; n < 3; ++n) {
    const std::string piece = trimRight(substring(text, static_cast<long long>(kLineWidth) * n + 1, kLineWidth));
    const std::size_t blanks = std::min(piece.find_first_not_of(' '), piece.size());
    const std::size_t front = (blanks + 1) / 2;
    const std::string centred = std::string(front, ' ') + piece.substr(blanks) + std::string(blanks - front, ' ');
    lines.line[n] = padRight(centred, kLineWidth);
  }
  return lines;
}

}  // namespace kelvor
