#pragma once
// The desk's tick on Linux: a precise single-shot Qt timer set anew after each tick for when
// the desk next wants one (TickSchedule); asleep (nothing due), no timer is set and the event
// loop does not wake for the tick. Qt's timers run in nested event loops too (a modal
// window, a blocking wait), so one timer serves them all.

#include <QTimer>
#include <functional>

#include "core/desk/tick_schedule.h"
#include "core/system/tick_timer.h"

namespace kelvor {

class QtTickTimer : public TickTimer {
 public:
  using TimePoint = TickSchedule::TimePoint;

  // `tick` runs the face's tick; `wanted` says when the desk next wants one (Desk::nextTick).
  QtTickTimer(std::function<void()> tick, std::function<TimePoint()> wanted);

  // The first tick in one interval.
  void start();
  void stop();
  void wake() override;

 private:
  void fire();
  void arm();

  QTimer timer_;
  std::function<void()> tick_;
  std::function<TimePoint()> wanted_;
  TickSchedule schedule_;
  bool started_ = false;
  bool ticking_ = false;
};

}  // namespace kelvor
