#include "linux/qt/tick_timer.h"

#include <chrono>

namespace kelvor {
namespace {

TickSchedule::TimePoint now() { return std::chrono::steady_clock::now(); }

}  // namespace

QtTickTimer::QtTickTimer(std::function<void()> tick, std::function<TimePoint()> wanted)
    : tick_(std::move(tick)), wanted_(std::move(wanted)) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
}

void QtTickTimer::start() {
  started_ = true;
  schedule_.start(now());
  arm();
}

void QtTickTimer::stop() {
  started_ = false;
  timer_.stop();
}

void QtTickTimer::wake() {
  if (!started_) return;
  const auto before = schedule_.next();
  schedule_.wake(now());
  if (schedule_.next() != before) arm();
}

void QtTickTimer::fire() {
  // A tick's own work may run a nested loop (a notice, a wait): no tick inside a tick; the
  // timer is set again when it returns.
  if (ticking_) return;
  if (!schedule_.due(now())) {
    arm();  // set in whole milliseconds, it may come a fraction early
    return;
  }
  ticking_ = true;
  tick_();
  ticking_ = false;
  if (!started_) return;
  schedule_.ticked(now(), wanted_());
  arm();
}

void QtTickTimer::arm() {
  const long long wait = schedule_.waitMilliseconds(now());
  if (wait < 0) {
    timer_.stop();
    return;
  }
  timer_.start(std::chrono::milliseconds(wait));
}

}  // namespace kelvor
