#pragma once
// What the DDE handlers and execute commands need from the main window and the desktop.
//
// The commands change things that belong to the main window (its run state, z-order,
// height, lamps, status icon, closing) and use the message window, the wait helpers and the
// sound player. They reach all of it through this interface, which the main window
// implements; tests put a recording fake behind it. Every call runs on the user-interface
// thread, one DDE event at a time.

#include <cstdint>
#include <string>

namespace kelvor::dde {

class CommandHost {
 public:
  virtual ~CommandHost() = default;

  // [RUN], only called while reception is stopped: the run control's variant that leaves the
  // menu button as it is (waitState 0, isRunning 1, open the port, empty the reception fields,
  // run button "runoff" with "~bt_off.jpg", refresh).
  virtual void runFromCommand() = 0;
  // [STOP]: waitState 0, isRunning 0, close the port (also when already stopped), run button
  // "runon" with "~bt_run.jpg", refresh; the menu button keeps its state.
  virtual void stopFromCommand() = 0;
  // Closes the port from the current settings ([APPCLOSE] while reception runs).
  virtual void closePort() = 0;

  virtual void setZOrderMode(std::uint8_t mode) = 0;  // 1 top-most, 2 behind all windows
  virtual void forceZOrder() = 0;                     // apply zOrderMode again at the next tick
  virtual void closeMainWindow() = 0;                 // ends the program once the event returns
  virtual void refresh() = 0;
  virtual void setOrangeLamp(bool shown) = 0;
  virtual void setDdeStatusIcon(const std::string& icon) = 0;  // "~psend.ico", "~precep.ico", "~pok.ico"
  virtual void setWindowHeight(int units) = 0;                 // 26 normally, 38 shows the progress bar
  virtual void setProgress(double percent) = 0;

  // One pass of a blocking wait: lets the window repaint and sleeps a little. Returns true
  // when a key press reached the main window, which has then handled it.
  virtual bool waitPass() = 0;
  virtual void flushKeyboard() = 0;
  // waitSeconds and showMessage of the message window; they return when done. `text` is
  // UTF-8 or Windows-1252 bytes, as the message window accepts.
  virtual void waitSeconds(double seconds) = 0;
  virtual void showMessage(const std::string& text) = 0;
  // The same message window, returning at once: the tick and the DDE server go on while it
  // is open. At most one such window is open at a time: a later call (another linked cell)
  // shows its text in the one still open. A face that has only the waiting one shows that.
  virtual void showMessageWithoutWaiting(const std::string& text) { showMessage(text); }
  virtual void playSoundIfEnabled(const std::string& name, std::uint8_t soundEnable) = 0;
  // The working directory without a trailing "/" (the root gives "").
  virtual std::string currentDirectory() = 0;
};

}  // namespace kelvor::dde
