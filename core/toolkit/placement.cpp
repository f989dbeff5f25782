#include "core/toolkit/placement.h"

#include <algorithm>

namespace kelvor {
namespace {

constexpr int kGap = 8;

bool overlap(const Box& a, const Box& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

}  // namespace

Box placeClearOf(const Box& strip, int width, int height, const Box& screen) {
  Box box{screen.x + (screen.width - width) / 2, screen.y + (screen.height - height) / 2, width, height};
  if (overlap(box, strip)) {
    const int below = strip.y + strip.height + kGap;
    box.y = below + height <= screen.y + screen.height ? below : strip.y - kGap - height;
  }
  // A window larger than the screen keeps its top left corner on it.
  box.x = std::max(screen.x, std::min(box.x, screen.x + screen.width - width));
  box.y = std::max(screen.y, std::min(box.y, screen.y + screen.height - height));
  return box;
}

}  // namespace kelvor
