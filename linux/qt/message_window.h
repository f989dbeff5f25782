#pragma once
// MessageWindow and the two small timing helpers of the DDE commands.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/toolkit/message_lines.h"

class QWidget;

namespace kelvor {

// Shows the message window and returns when the user has pressed OK (or closed it). Plays
// "sound\info.wav" on opening and the touch sound on OK when `soundEnable` is 1. The main
// window's ticks and DDE events wait meanwhile.
void showMessage(std::string_view text, std::uint8_t soundEnable, std::string_view touchSoundPath);

// The same window, returning at once: it belongs to `owner` (the strip) and closes itself
// on OK; nothing waits for it. At most one is open: a later call shows its text in it.
void showMessageWithoutWaiting(std::string_view text, std::uint8_t soundEnable, std::string touchSoundPath,
                               QWidget* owner);

// Waits `seconds` (0 or less: not at all) or until a key is pressed; key presses made before
// the call are discarded first. Nothing else is handled meanwhile.
void waitSeconds(double seconds);

// Discards pending key presses.
void flushKeyboard();

}  // namespace kelvor
