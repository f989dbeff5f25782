#pragma once
// The desk's tick as the core sees it. The face runs Desk::tick() on its event loop every
// TickSchedule::kInterval while the desk has something due (Desk::nextTick) and lets it sleep
// otherwise; whatever makes something due while it sleeps (a run starting, a DDE event, the
// modal gate opening) wakes it here.

namespace kelvor {

class TickTimer {
 public:
  virtual ~TickTimer() = default;
  // A tick runs within one interval, however long the timer was meant to sleep; the desk
  // then says again whether it wants the next.
  virtual void wake() = 0;
};

}  // namespace kelvor
