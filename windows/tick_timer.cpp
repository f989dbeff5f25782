#include "windows/tick_timer.h"

#include <algorithm>
#include <chrono>

#include "core/toolkit/modal_gate.h"

namespace kelvor {
namespace {

TickSchedule::TimePoint now() { return std::chrono::steady_clock::now(); }

}  // namespace

Win32TickTimer::Win32TickTimer(std::function<void()> tick, std::function<TimePoint()> wanted)
    : tick_(std::move(tick)), wanted_(std::move(wanted)) {}

Win32TickTimer::~Win32TickTimer() {
  if (armed_ != 0 && IsWindow(window_)) KillTimer(window_, timerId_);
}

void Win32TickTimer::start(HWND window, UINT_PTR timerId) {
  window_ = window;
  timerId_ = timerId;
  schedule_.start(now());
  arm();
}

void Win32TickTimer::wake() {
  schedule_.wake(now());
  arm();
}

void Win32TickTimer::gateChanged() {
  // Closed, the next tick may have to come from the stand-in; open, the main loop is back.
  if (!modalGate().isOpen()) schedule_.wake(now());
  arm();
}

void Win32TickTimer::timerMessage() { runDue(); }

bool Win32TickTimer::due() const { return window_ != nullptr && !ticking_ && schedule_.due(now()); }

void Win32TickTimer::runDue() {
  // A tick's own work may pump messages (a notice, a wait): no tick inside a tick.
  if (window_ == nullptr || ticking_ || !schedule_.due(now())) return;
  ticking_ = true;
  tick_();
  ticking_ = false;
  schedule_.ticked(now(), wanted_());
  arm();
}

void Win32TickTimer::arm() {
  if (window_ == nullptr) return;
  UINT wanted = 0;
  if (!modalGate().isOpen() && !schedule_.asleep()) {
    const long long wait = schedule_.waitMilliseconds(now());
    wanted = static_cast<UINT>(std::max<long long>(USER_TIMER_MINIMUM, std::min<long long>(wait, 0x7FFFFFFF)));
    // Set again only when it changes: each SetTimer is a trip to the window server.
    if (wanted <= static_cast<UINT>(TickSchedule::kInterval.count())) wanted = static_cast<UINT>(TickSchedule::kInterval.count());
  }
  if (wanted == armed_) return;
  armed_ = wanted;
  if (wanted == 0) {
    KillTimer(window_, timerId_);
  } else {
    SetTimer(window_, timerId_, wanted, nullptr);
  }
}

int Win32TickTimer::runMessageLoop(const std::function<bool(MSG&)>& preTranslate) {
  MSG message;
  for (;;) {
    runDue();
    const long long wait = schedule_.waitMilliseconds(now());
    // Woken by the time alone, the queue is known to be empty: no look at it (each look is a
    // trip to the Wine server, fifty a second while reception runs).
    if (MsgWaitForMultipleObjectsEx(0, nullptr, wait < 0 ? INFINITE : static_cast<DWORD>(wait), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE) == WAIT_TIMEOUT) {
      continue;
    }
    // One message at a time, so that a due tick goes ahead of the rest of a flood.
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
      if (!preTranslate || !preTranslate(message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      runDue();
    }
  }
}

}  // namespace kelvor
