#pragma once
// Where a window of Kelvor's opens beside the strip. The strip is small and stays on top of
// everything: a window centred over it (what a toolkit does for a window it owns) hides the
// strip's lamps and buttons, and lies under the strip's own top-most band. So a window opens
// centred on the screen when that leaves the strip free, else just below the strip (above it
// near the screen's bottom), and always within the screen.

namespace kelvor {

struct Box {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Box&, const Box&) = default;
};

// The place (x, y) of a window `width` x `height` on `screen`, clear of `strip`.
Box placeClearOf(const Box& strip, int width, int height, const Box& screen);

}  // namespace kelvor
