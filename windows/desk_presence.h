#pragma once
// One Kelvor per working folder on Windows. Two programs in one folder would share
// KELVOR.INI, the reading log and the MQTT queue, and stack their strips; so the first start
// holds a mutex named after the folder and a hidden window titled after it, and a later start
// there asks that window to bring the strip to the front and ends.

#include <windows.h>

#include <functional>
#include <string>

namespace kelvor {

class DeskPresence {
 public:
  DeskPresence() = default;
  ~DeskPresence();
  DeskPresence(const DeskPresence&) = delete;
  DeskPresence& operator=(const DeskPresence&) = delete;

  // Takes the folder for this program. False: another Kelvor has it, and has been asked to
  // show its strip.
  bool claim(const std::string& workingFolder);

  // What a later start in the same folder asks for.
  std::function<void()> onRaise;

 private:
  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HANDLE mutex_ = nullptr;
  HWND window_ = nullptr;
};

}  // namespace kelvor
