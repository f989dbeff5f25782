#pragma once
// The main window: the small always-on-top status strip, the face of the desk on Linux. Its
// 20 ms timer applies the z-order and runs the desk's tick (core/desk/desk.h). Every tick,
// menu action and DDE event goes through the modal gate, so nothing of this runs while a
// modal window, a file dialog or a blocking wait is open.
//
// The desk reaches the strip only through the small set of operations below (lamps, icons,
// the frame shown, the progress band, the run state); what the menu opens and what the tick
// runs are plugged in through `MainWindow::Hooks` by the start-up code.

#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "core/desk/kelvor_state.h"
#include "core/desk/desk.h"
#include "core/system/file_dialog.h"
#include "core/toolkit/notices.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace kelvor {

class MainWindow : public QWidget, private DeskView {
  Q_OBJECT

 public:
  // One layout unit is two device-independent pixels.
  static constexpr int kUnit = 2;
  static constexpr int kWidthUnits = 127;
  static constexpr int kShownHeightUnits = 26;
  static constexpr int kFullHeightUnits = 38;

  enum class Lamp { Green, Red, Orange };

  // What other subsystems do at the main window's events. Unset hooks do nothing.
  struct Hooks {
    std::function<void()> tick;        // the desk's tick, after the z-order
    std::function<void()> wakeTick;    // the z-order changed: the tick applies it
    std::function<void()> openAbout;   // menu items 2 to 7
    std::function<void()> openConfiguration;
    std::function<void()> openDevices;
    std::function<void()> openView;
    std::function<void()> openTest;
    std::function<void()> openOutputs;  // the reading log and MQTT settings
    // Whether the DDE server really serves, and the icon's tooltip saying so; unset: as
    // the configuration asks.
    std::function<bool()> ddeServing;
    std::function<std::string()> ddeStatus;
  };

  // `notices`: where the menu's file commands tell what went wrong.
  MainWindow(KelvorState& state, Notices& notices);
  ~MainWindow() override;

  Hooks hooks;

  // Window x and y as last read from KELVOR.INI or from a move.
  int windowX = 0;
  int windowY = 0;

  void refreshStatusIcons();
  void rebuildMainTexts();
  void setZOrderMode(int mode);
  void toggleTop();
  void forceZOrder();
  void applyZOrder();
  void startRun();
  void stopRun();
  // The [RUN] and [STOP] variants: the menu button's enabled state is left alone.
  void runFromCommand();
  void stopFromCommand();

  void setLamp(Lamp lamp, bool shown);
  void setSendKeyIcon(std::string_view picture);
  // The key-output icon's tooltip: which keyboard types the readings.
  void setSendKeyToolTip(std::string_view text);
  // While `why` is not empty, the key-output icon shows that typing is paused and why.
  void showTypingPaused(const std::string& why);
  void setDdeIcon(std::string_view picture);
  // Shows `NAME` and the first 20 characters of `currentFrame` again.
  void showTexts() override;
  // Reveals (or hides again) the band from 26 to 38 units with the progress bar.
  void setWaitBandShown(bool shown);
  void setProgress(double value);
  void focusKeyCatcher();

  const std::string& menuText() const { return menuText_; }
  int lastAppliedZOrderMode() const { return lastAppliedZOrderMode_; }
  bool menuButtonEnabled() const;
  // The run control the run button and the commands drive (the desk's).
  void setRunControl(RunControl* run) { run_ = run; }
  DeskView& deskView() { return *this; }
  // The file commands' dialogs.
  FileDialogs& fileDialogs();

  // Runs the tick's steps now (the timer calls this every 20 ms).
  void tick();

 signals:
  void closed();

 protected:
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void setRunButtonStopped(bool stopped);
  // DeskView: what the strip shows of the run state and the poll.
  void showRunning(bool running) override;
  void setMenuEnabled(bool enabled) override;
  void showPortAway(const std::string& description) override;
  void showLamps(bool green, bool red) override;
  void showMenu();
  void performMenuItem(int item);
  void menuItemsFrom(const std::string& menuText);

  KelvorState& state_;
  Notices& notices_;
  RunControl* run_ = nullptr;
  std::string menuText_;
  int lastAppliedZOrderMode_ = 0;

  QLabel* background_ = nullptr;   // 1
  QLabel* sendKeyIcon_ = nullptr;  // 2
  QLabel* ddeIcon_ = nullptr;      // 3
  std::string sendKeyIconName_ = "~pcancel.ico", ddeIconName_ = "~pcancel.ico";  // the pictures shown
  QProgressBar* progress_ = nullptr;  // 4
  QLabel* waitLabel_ = nullptr;    // 5
  QLabel* waitStateLabel_ = nullptr;  // 6
  QLabel* greenLamp_ = nullptr;    // 7
  QLabel* redLamp_ = nullptr;      // 8
  QLabel* orangeLamp_ = nullptr;   // 9
  QLabel* nameLabel_ = nullptr;    // 10
  QPushButton* menuButton_ = nullptr;  // 11
  QPushButton* runButton_ = nullptr;   // 12
  QLabel* frameLabel_ = nullptr;   // 13
  QPushButton* keyCatcher_ = nullptr;  // 14
  QLabel* elapsedLabel_ = nullptr;  // 15
  QLabel* portAwayIcon_ = nullptr;  // 16: the port's device went away during the run
  QString sendKeyToolTip_;  // which keyboard types, shown again when typing resumes
  bool typingPaused_ = false;
};

}  // namespace kelvor
