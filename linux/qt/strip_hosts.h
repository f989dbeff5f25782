#pragma once
// What the desk asks of the Qt face beyond the strip's own view: the host of keystroke
// output (its focus, icon, sound and a timer), the host of the DDE commands (the strip's run
// state, z-order, lamps, wait band and the message window), and the user-interface thread.

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "core/dde/command_host.h"
#include "core/desk/kelvor_state.h"
#include "core/keystrokes/keystroke_output.h"
#include "core/system/ui_thread.h"

namespace kelvor {

class MainWindow;

class StripKeystrokeHost : public KeystrokeHost {
 public:
  explicit StripKeystrokeHost(MainWindow& window);
  void focusKeyCatcher() override;
  void setSendKeyIcon(std::string_view icon) override;
  void playKeySound(std::string_view file, std::uint8_t soundEnable) override;
  void callAfter(int milliseconds, std::function<void()> then) override;
  void showKeyboard(std::string_view name) override;
  bool ownWindowFocused() const override;
  void showTypingPaused(bool paused) override;

 private:
  MainWindow& window_;
  QTimer timer_;
  std::function<void()> then_;
};

class StripCommandHost : public dde::CommandHost {
 public:
  StripCommandHost(KelvorState& state, MainWindow& window) : state_(state), window_(window) {}

  void runFromCommand() override;
  void stopFromCommand() override;
  void closePort() override;
  void setZOrderMode(std::uint8_t mode) override;
  void forceZOrder() override;
  void closeMainWindow() override;
  void refresh() override;
  void setOrangeLamp(bool shown) override;
  void setDdeStatusIcon(const std::string& icon) override;
  void setWindowHeight(int units) override;
  void setProgress(double percent) override;
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
  MainWindow& window_;
};

// The thread Qt's event loop runs on.
class QtUiThread : public UiThread {
 public:
  bool isCurrent() const override;
  void post(std::function<void()> call) override;

 private:
  QObject context_;  // queued calls die with it
};

}  // namespace kelvor
