#pragma once
// When the face runs the desk's tick: on a fixed 20 ms grid while the desk wants every tick,
// at the time it names when that is later, never when it names none, and within one interval
// of a wake. Ticks that fell behind (a long tick, a blocked loop) are dropped, not replayed.
// Plain arithmetic on the face's clock, so that both event loops share the rules.

#include <chrono>

namespace kelvor {

class TickSchedule {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::milliseconds kInterval{20};
  static constexpr TimePoint kNever = TimePoint::max();

  // Starts ticking: the first tick one interval from `now`.
  void start(TimePoint now) { next_ = now + kInterval; }
  // Something became due: a tick within one interval, unless one comes sooner anyway.
  void wake(TimePoint now);
  bool due(TimePoint now) const { return now >= next_; }
  // A tick ran at `now`, and the desk next wants one at `wanted` (kNever: nothing is due).
  void ticked(TimePoint now, TimePoint wanted);
  // The next tick, or kNever while asleep.
  TimePoint next() const { return next_; }
  bool asleep() const { return next_ == kNever; }
  // How long the loop may wait for events before the next tick, in whole milliseconds
  // rounded up; -1 while asleep.
  long long waitMilliseconds(TimePoint now) const;

 private:
  TimePoint next_ = kNever;
};

}  // namespace kelvor
