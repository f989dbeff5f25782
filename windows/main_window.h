#pragma once
// The main window on Windows: the small status strip. It shows what it is told (the
// configuration's name, the last frame, the status icons and lamps, the run state, the
// progress band) and hands on what the user does (the run and menu buttons, a menu item,
// the key-catcher, a move, the close box) and its 20 ms timer through Hooks; the desk
// decides what each means.
//
// The layout is that of the Linux strip: 127 units wide, 26 units shown (38 while a wait
// shows its progress band), one unit being two pixels. Pictures and icons are built into
// the program as resources, named after the picture ("~bt_run.jpg" is BT_RUN_JPG).

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "core/desk/menu_text.h"

namespace kelvor {

class MainWindow {
 public:
  static constexpr int kUnit = 2;
  static constexpr int kWidthUnits = 127;
  static constexpr int kShownHeightUnits = 26;
  static constexpr int kFullHeightUnits = 38;
  static constexpr UINT_PTR kTickTimerId = 1;

  enum class Lamp { Green, Red, Orange };

  struct Hooks {
    std::function<void()> tick;        // the tick timer's WM_TIMER (kTickTimerId)
    std::function<void()> runButton;   // the run button was pressed
    std::function<void()> menuButton;  // the menu button was pressed (the desk shows the menu)
    std::function<void()> keyCatcher;  // the key-catcher was pressed (with the keyboard)
    std::function<void(int x, int y)> moved;
    std::function<void()> closing;     // the close box: the desk ends the program
  };

  MainWindow();
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  Hooks hooks;

  // Makes the window at `x`, `y` (the band hidden); false when Windows refuses.
  bool create(int x, int y);
  HWND handle() const { return window_; }
  void show();
  void close();

  void setName(const std::string& name);
  void setFrame(const std::string& frame);  // the first 20 characters are shown
  void setLamp(Lamp lamp, bool shown);
  void hideLamps();
  void setSendKeyIcon(const std::string& picture);
  void setSendKeyToolTip(const std::string& text);
  void setDdeIcon(const std::string& picture);
  // The picture a command asks for, shown by the next tick (showDdeIcon), not at once: a
  // request asks for two in a row and ends with the one it began with, which then costs
  // nothing. True when a tick has a picture to show.
  bool setDdeIconLater(const std::string& picture);
  void showDdeIcon();
  void setDdeToolTip(const std::string& text);
  void setRunButton(bool running, const std::string& toolTip);
  void setMenuButton(bool enabled, const std::string& toolTip);
  bool menuButtonEnabled() const;
  // The port's device is away during the run: an icon whose tooltip says which and why.
  void setPortAway(const std::string& description);
  void setWaitBandShown(bool shown);
  void setProgress(double percent);
  void setWaitValues(int waitState, int elapsed);  // controls 6 and 15, below the band
  void focusKeyCatcher();

  // Places the window in the top-most band (1) or behind all windows (2).
  void applyZOrder(int mode);
  // Shows `menu` at the mouse pointer; returns the item chosen (1..), 0 for none.
  int popupMenu(const std::vector<MenuEntry>& menu);

  struct Impl;

 private:
  Impl* impl_;
  HWND window_ = nullptr;
};

}  // namespace kelvor
