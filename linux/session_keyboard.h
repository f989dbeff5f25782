#pragma once
// The keyboard for this desktop session, chosen at start:
// - an X11 session (no WAYLAND_DISPLAY): XTest;
// - a Wayland compositor offering the virtual keyboard: the virtual keyboard;
// - any other Wayland desktop: the remote-desktop portal;
// and on Wayland, XTest through Xwayland as the last resort, which reaches only X11
// windows (the user is told so once, when it comes to that).

#include <memory>
#include <string>

#include "core/keystrokes/keyboard_choice.h"

namespace kelvor {

std::unique_ptr<ChosenKeyboard> openSessionKeyboard(const std::string& iniFilePath);

}  // namespace kelvor
