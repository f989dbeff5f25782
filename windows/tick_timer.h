#pragma once
// The desk's tick on Windows. WM_TIMER comes only when no other message waits, so a tick
// driven by it starves while clients post requests: the main message loop runs the tick
// itself, ahead of any waiting message once it is due, and waits for messages only until
// then (MsgWaitForMultipleObjectsEx). Inside another loop (a modal window, a menu, a blocking
// wait, all behind the modal gate) the main loop does not run: while the gate is closed a
// WM_TIMER of the strip stands in. Asleep (nothing due), neither wakes the thread.

#include <windows.h>

#include <functional>

#include "core/desk/tick_schedule.h"
#include "core/system/tick_timer.h"

namespace kelvor {

class Win32TickTimer : public TickTimer {
 public:
  using TimePoint = TickSchedule::TimePoint;

  // `tick` runs the face's tick; `wanted` says when the desk next wants one (Desk::nextTick).
  Win32TickTimer(std::function<void()> tick, std::function<TimePoint()> wanted);
  ~Win32TickTimer() override;
  Win32TickTimer(const Win32TickTimer&) = delete;
  Win32TickTimer& operator=(const Win32TickTimer&) = delete;

  // The first tick in one interval; `window` receives the stand-in WM_TIMER with `timerId`
  // and calls timerMessage().
  void start(HWND window, UINT_PTR timerId);
  void wake() override;
  // The modal gate closed or opened: the stand-in timer follows.
  void gateChanged();
  // The stand-in WM_TIMER came.
  void timerMessage();
  // Whether a tick waits to run: work that serves messages in long slices (the DDE
  // transport) stops for it.
  bool due() const;

  // The main loop until WM_QUIT; returns its exit code. `preTranslate` takes a message
  // before it is dispatched (a dialog's keyboard handling) and says whether it took it.
  int runMessageLoop(const std::function<bool(MSG&)>& preTranslate);

 private:
  void runDue();
  void arm();

  HWND window_ = nullptr;
  UINT_PTR timerId_ = 0;
  std::function<void()> tick_;
  std::function<TimePoint()> wanted_;
  TickSchedule schedule_;
  UINT armed_ = 0;  // the stand-in timer's interval in milliseconds, 0 when not set
  bool ticking_ = false;
};

}  // namespace kelvor
