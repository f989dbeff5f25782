#include "core/desk/tick_schedule.h"

#include <algorithm>

namespace kelvor {

void TickSchedule::wake(TimePoint now) { next_ = std::min(next_, now + kInterval); }

void TickSchedule::ticked(TimePoint now, TimePoint wanted) {
  if (wanted == kNever) {
    next_ = kNever;
    return;
  }
  // Held to the grid so that the poll keeps its 20 ms however late each tick is served.
  TimePoint next = next_ == kNever ? now + kInterval : next_ + kInterval;
  if (next <= now) next = now + kInterval;
  next_ = std::max(next, wanted);
}

long long TickSchedule::waitMilliseconds(TimePoint now) const {
  if (next_ == kNever) return -1;
  if (next_ <= now) return 0;
  const auto left = next_ - now;
  const auto whole = std::chrono::ceil<std::chrono::milliseconds>(left);
  return whole.count();
}

}  // namespace kelvor
