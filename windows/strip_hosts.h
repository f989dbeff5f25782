#pragma once
// What the desk asks of the Win32 face: the strip's view of the run (its run state, lamps,
// texts, z-order, menu), the host of keystroke output, the host of the DDE commands, and the
// user-interface thread. The window itself (windows/main_window.h) only draws; the strip's
// rules (which icon when, the menu text, the z-order modes, the run button) live here, as on
// Linux.

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "core/dde/command_host.h"
#include "core/desk/kelvor_state.h"
#include "core/desk/desk.h"
#include "core/keystrokes/keystroke_output.h"
#include "core/system/ui_thread.h"
#include "core/toolkit/notices.h"
#include "windows/main_window.h"

namespace kelvor {

class Strip : public DeskView {
 public:
  Strip(KelvorState& state, MainWindow& window, Notices& notices);

  void setRunControl(RunControl* run) { run_ = run; }

  // The windows of the menu's items, by what they open (the configuration window's item
  // refreshes the status icons after it).
  struct MenuWindows {
    std::function<void()> about, configuration, devices, view, test, outputs;
  } menuWindows;

  // Whether the DDE server serves, and a sentence saying so or why not, for the DDE icon;
  // without them the icon follows the setting.
  std::function<bool()> ddeServing;
  std::function<std::string()> ddeStatus;
  // The z-order is applied by the tick: a change wakes it.
  std::function<void()> wakeTick;

  void refreshStatusIcons();
  void rebuildMainTexts();
  void setZOrderMode(int mode);
  void toggleTop();
  void forceZOrder();
  void applyZOrder();
  void runButton();
  void runFromCommand();
  void stopFromCommand();
  void showMenu();

  const std::string& menuText() const { return menuText_; }

  // DeskView.
  void showRunning(bool running) override;
  void setMenuEnabled(bool enabled) override;
  void showPortAway(const std::string& description) override;
  void showLamps(bool green, bool red) override;
  void showTexts() override;

 private:
  void performMenuItem(int item);

  KelvorState& state_;
  MainWindow& window_;
  Notices& notices_;
  RunControl* run_ = nullptr;
  std::string menuText_;
  int lastAppliedZOrderMode_ = 0;
};

class StripKeystrokeHost : public KeystrokeHost {
 public:
  StripKeystrokeHost(MainWindow& window);
  ~StripKeystrokeHost() override;
  void focusKeyCatcher() override;
  void setSendKeyIcon(std::string_view icon) override;
  void playKeySound(std::string_view file, std::uint8_t soundEnable) override;
  void callAfter(int milliseconds, std::function<void()> then) override;
  void showKeyboard(std::string_view name) override;
  bool ownWindowFocused() const override;
  void showTypingPaused(bool paused) override;

  struct Timer;

 private:
  MainWindow& window_;
  Timer* timer_;
};

class StripCommandHost : public dde::CommandHost {
 public:
  StripCommandHost(KelvorState& state, Strip& strip, MainWindow& window)
      : state_(state), strip_(strip), window_(window) {}

  void runFromCommand() override { strip_.runFromCommand(); }
  void stopFromCommand() override { strip_.stopFromCommand(); }
  void closePort() override;
  void setZOrderMode(std::uint8_t mode) override { strip_.setZOrderMode(mode); }
  void forceZOrder() override { strip_.forceZOrder(); }
  void closeMainWindow() override;
  void refresh() override;
  void setOrangeLamp(bool shown) override;
  void setDdeStatusIcon(const std::string& icon) override;
  void setWindowHeight(int units) override { window_.setWaitBandShown(units > MainWindow::kShownHeightUnits); }
  void setProgress(double percent) override { window_.setProgress(percent); }
  bool waitPass() override;
  void flushKeyboard() override;
  void waitSeconds(double seconds) override;
  void showMessage(const std::string& text) override;
  void showMessageWithoutWaiting(const std::string& text) override;
  void playSoundIfEnabled(const std::string& name, std::uint8_t soundEnable) override;
  std::string currentDirectory() override;

  // How the port closes ([APPCLOSE] while reception runs): the desk's.
  std::function<void()> closePortWith;

 private:
  KelvorState& state_;
  Strip& strip_;
  MainWindow& window_;
};

// The thread of the message loop: calls from other threads are queued and a message to a
// window of its own hands them over.
class Win32UiThread : public UiThread {
 public:
  Win32UiThread();
  ~Win32UiThread() override;
  bool isCurrent() const override;
  void post(std::function<void()> call) override;

  // Runs what was posted (the window's message handler calls it).
  void runPosted();

 private:
  DWORD thread_;
  HWND window_ = nullptr;
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
};

// Lets the window repaint and handle its messages for about `milliseconds`; returns whether a
// key was pressed meanwhile (the key goes on to the window that has the focus).
bool pumpMessages(DWORD milliseconds);

}  // namespace kelvor
