#pragma once
// The keyboard for this desktop session on Windows: SendInput. Characters go as Unicode
// key events (KEYEVENTF_UNICODE), so they arrive exactly whatever the keyboard layout and
// the Caps Lock state; Return, Tab and the arrows go as virtual keys, as a person presses
// them. Every key pressed is released in the same call.

#include <memory>
#include <string>

#include "core/keystrokes/keyboard_choice.h"

namespace kelvor {

std::unique_ptr<ChosenKeyboard> openSessionKeyboard(const std::string& iniFilePath);

}  // namespace kelvor
