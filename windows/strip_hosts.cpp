#include "windows/strip_hosts.h"

#include <chrono>

#include "core/desk/menu_text.h"
#include "core/i18n/language_file_dialog.h"
#include "core/settings/file_commands.h"
#include "core/i18n/translate.h"
#include "core/system/system.h"
#include "core/toolkit/modal_gate.h"
#include "core/toolkit/encoding.h"
#include "core/toolkit/sound.h"
#include "windows/dde_message.h"
#include "windows/message_window.h"
#include "windows/file_dialog.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

constexpr wchar_t kPostClass[] = L"KelvorUiThread";
constexpr UINT kRunPosted = WM_APP + 1;
constexpr int kWaitPassMs = 10;

LRESULT CALLBACK postProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunPosted) {
    auto* ui = reinterpret_cast<Win32UiThread*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (ui) ui->runPosted();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND messageWindow(WNDPROC proc, const wchar_t* className, void* owner) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = className;
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  return window;
}

}  // namespace

bool pumpMessages(DWORD milliseconds) {
  bool keyPressed = false;
  const ULONGLONG end = GetTickCount64() + milliseconds;
  MSG message;
  for (;;) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // The loop that ends the program is the outermost one: give it the quit back.
        PostQuitMessage(static_cast<int>(message.wParam));
        return keyPressed;
      }
      if (message.message == WM_KEYDOWN) keyPressed = true;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return keyPressed;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}

// --- Strip.

Strip::Strip(KelvorState& state, MainWindow& window, Notices& notices)
    : state_(state), window_(window), notices_(notices) {}

void Strip::refreshStatusIcons() {
  window_.hideLamps();
  const bool serving = ddeServing ? ddeServing() : state_.config.ENABLESERVERDDE == 1;
  window_.setDdeIcon(serving ? "~pok.ico" : "~pcancel.ico");
  if (ddeStatus) window_.setDdeToolTip(ddeStatus());
  window_.setSendKeyIcon(state_.config.ENABLESENDKEY == 1 ? "~pok.ico" : "~pcancel.ico");
  showTexts();
}

void Strip::rebuildMainTexts() {
  menuText_ = buildMenuText(state_.language, true);
  window_.setRunButton(state_.reception.isRunning == 1, translate(state_.language, "runon"));
  window_.setMenuButton(window_.menuButtonEnabled(), translate(state_.language, "config"));
}

void Strip::setZOrderMode(int mode) {
  menuText_ = buildMenuText(state_.language, mode == 1);
  state_.zOrderMode = keepWidth<std::uint8_t>(mode);
  if (wakeTick) wakeTick();
}

void Strip::forceZOrder() {
  lastAppliedZOrderMode_ = 99;
  if (wakeTick) wakeTick();
}

void Strip::toggleTop() { setZOrderMode(state_.zOrderMode == 1 ? 2 : 1); }

void Strip::applyZOrder() {
  if (lastAppliedZOrderMode_ == state_.zOrderMode) return;
  window_.applyZOrder(state_.zOrderMode);
  lastAppliedZOrderMode_ = state_.zOrderMode;
}

void Strip::runButton() {
  if (!modalGate().isOpen() || run_ == nullptr) return;
  if (state_.reception.isRunning == 0) {
    run_->start(RunControl::Trigger::RunButton);
  } else {
    run_->stop(RunControl::Trigger::RunButton);
  }
}

void Strip::runFromCommand() {
  if (run_) run_->start(RunControl::Trigger::Command);
}

void Strip::stopFromCommand() {
  if (run_) run_->stop(RunControl::Trigger::Command);
}

void Strip::showMenu() {
  if (!modalGate().isOpen()) return;
  int chosen = 0;
  {
    ModalGate::Hold hold(modalGate());
    chosen = window_.popupMenu(parseMenuText(menuText_));
  }
  if (chosen != 0) performMenuItem(chosen);
  forceZOrder();
  // A window the item left open beside the strip (the outputs window, the about box) keeps
  // the keyboard focus it took: the strip takes it back only from itself.
  const HWND active = GetActiveWindow();
  if (active == nullptr || active == window_.handle()) window_.focusKeyCatcher();
}

void Strip::performMenuItem(int item) {
  Win32FileDialogs dialogs(window_.handle());
  const auto open = [](const std::function<void()>& window) {
    if (window) window();
  };
  switch (item) {
    case 1: toggleTop(); break;
    case 2: open(menuWindows.about); break;
    case 3:
      open(menuWindows.configuration);
      refreshStatusIcons();
      break;
    case 4: open(menuWindows.devices); break;
    case 5: open(menuWindows.view); break;
    case 6: open(menuWindows.test); break;
    case 7: open(menuWindows.outputs); break;
    case 8: saveConfigurationAs(dialogs, state_.config, state_.configFilePath, state_.language, notices_); break;
    case 9:
      openConfiguration(dialogs, state_.config, state_.configFilePath, state_.language);
      showTexts();
      break;
    case 10: selectDefaultConfiguration(dialogs, state_.configFilePath, state_.iniFilePath, state_.language); break;
    case 11:
      if (selectLanguageFile(dialogs, state_.language, state_.iniFilePath)) rebuildMainTexts();
      break;
    default: break;
  }
}

void Strip::showRunning(bool running) {
  forceZOrder();
  state_.language.languageSection = "MAIN";
  window_.setRunButton(running, translate(state_.language, running ? "runoff" : "runon"));
  showTexts();
}

void Strip::setMenuEnabled(bool enabled) {
  window_.setMenuButton(enabled, translate(state_.language, "config"));
}

void Strip::showPortAway(const std::string& description) { window_.setPortAway(description); }

void Strip::showLamps(bool green, bool red) {
  window_.setLamp(MainWindow::Lamp::Green, green);
  window_.setLamp(MainWindow::Lamp::Red, red);
  UpdateWindow(window_.handle());
}

void Strip::showTexts() {
  window_.setName(state_.config.NAME.trimmed());
  // The frame's first 20 characters as a C text: a zero byte ends what can be shown.
  const ZField<21, Fit::Characters> frame(state_.reception.currentFrame.padded());
  window_.setFrame(frame.cText());
}

// --- Keystroke host.

struct StripKeystrokeHost::Timer {
  static constexpr UINT_PTR kId = 1;
  HWND window = nullptr;
  std::function<void()> then;

  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kId) {
      auto* timer = reinterpret_cast<Timer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      KillTimer(window, kId);
      // Like the tick, typing waits while a modal window of Kelvor's is open: the keystrokes
      // would land in it.
      if (!modalGate().isOpen()) {
        SetTimer(window, kId, 20, nullptr);
        return 0;
      }
      auto then = std::move(timer->then);
      timer->then = nullptr;
      if (then) then();
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
};

StripKeystrokeHost::StripKeystrokeHost(MainWindow& window) : window_(window), timer_(new Timer) {
  timer_->window = messageWindow(Timer::proc, L"KelvorKeystrokeTimer", timer_);
}

StripKeystrokeHost::~StripKeystrokeHost() {
  DestroyWindow(timer_->window);
  delete timer_;
}

void StripKeystrokeHost::focusKeyCatcher() { window_.focusKeyCatcher(); }

void StripKeystrokeHost::setSendKeyIcon(std::string_view icon) {
  window_.setSendKeyIcon(std::string(icon));
  UpdateWindow(window_.handle());
}

void StripKeystrokeHost::playKeySound(std::string_view file, std::uint8_t soundEnable) {
  playSoundIfEnabled(file, soundEnable);
}

void StripKeystrokeHost::callAfter(int milliseconds, std::function<void()> then) {
  timer_->then = std::move(then);
  SetTimer(timer_->window, Timer::kId, static_cast<UINT>(milliseconds > 0 ? milliseconds : 1), nullptr);
}

// Any window of this program in the foreground (the strip, a box, a dialog) takes what the
// keyboard types.
bool StripKeystrokeHost::ownWindowFocused() const {
  const HWND foreground = GetForegroundWindow();
  if (foreground == nullptr) return false;
  DWORD process = 0;
  GetWindowThreadProcessId(foreground, &process);
  return process == GetCurrentProcessId();
}

void StripKeystrokeHost::showTypingPaused(bool paused) { setSendKeyIcon(paused ? "~pcancel.ico" : "~pok.ico"); }

void StripKeystrokeHost::showKeyboard(std::string_view name) {
  window_.setSendKeyToolTip("Keystrokes: " + std::string(name));
}

// --- Command host.

void StripCommandHost::closePort() {
  if (closePortWith) closePortWith();
}

void StripCommandHost::closeMainWindow() { PostMessageW(window_.handle(), WM_CLOSE, 0, 0); }

// What a command changes is painted by the loop, not from the command: a command that waits
// pumps it, the others return to it at once.
void StripCommandHost::refresh() { strip_.showTexts(); }

void StripCommandHost::setOrangeLamp(bool shown) { window_.setLamp(MainWindow::Lamp::Orange, shown); }

// Shown by the next tick: a request sets the icon twice and most often ends where it began.
void StripCommandHost::setDdeStatusIcon(const std::string& icon) {
  if (window_.setDdeIconLater(icon) && strip_.wakeTick) strip_.wakeTick();
}

bool StripCommandHost::waitPass() { return pumpMessages(kWaitPassMs); }

void StripCommandHost::flushKeyboard() {
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
}

void StripCommandHost::waitSeconds(double seconds) {
  ModalGate::Hold hold(modalGate());
  flushKeyboard();
  if (!(seconds > 0)) return;
  // A monotonic clock: a wait across midnight (or a clock change) still ends on time. A key
  // pressed meanwhile ends it early, as the message window's wait does.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 100) * 10);
  while (std::chrono::steady_clock::now() < end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (pumpMessages(static_cast<DWORD>(std::min<long long>(left.count(), 50)))) return;
  }
}

void StripCommandHost::showMessage(const std::string& text) {
  kelvor::showMessage(text, state_.config.SOUNDENABLE, state_.touchSoundPath);
}

void StripCommandHost::showMessageWithoutWaiting(const std::string& text) {
  kelvor::showMessageWithoutWaiting(text, state_.config.SOUNDENABLE, state_.touchSoundPath);
}

void StripCommandHost::playSoundIfEnabled(const std::string& name, std::uint8_t soundEnable) {
  kelvor::playSoundIfEnabled(name, soundEnable);
}

std::string StripCommandHost::currentDirectory() { return kelvor::currentDirectory(); }

// --- The user-interface thread.

Win32UiThread::Win32UiThread() : thread_(GetCurrentThreadId()) {
  window_ = messageWindow(postProc, kPostClass, this);
}

Win32UiThread::~Win32UiThread() {
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

bool Win32UiThread::isCurrent() const { return GetCurrentThreadId() == thread_; }

void Win32UiThread::post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }
  PostMessageW(window_, kRunPosted, 0, 0);
}

void Win32UiThread::runPosted() {
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (calls_.empty()) return;
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    call();
  }
}

}  // namespace kelvor
