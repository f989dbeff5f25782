#pragma once
// MessageWindow on Windows: a text of up to 150 characters in three red lines of 50 over the
// message picture, the information sound, and an OK picture button. Right after opening
// the keyboard focus is on a button below the visible area, so that a stray Enter does not
// press OK; Escape or the close box close it without the click sound.

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvor {

// Shows the message window and returns when the user has pressed OK (or closed it). Plays
// "sound\info.wav" on opening and the touch sound on OK when `soundEnable` is 1. The
// strip's ticks and DDE events wait meanwhile.
void showMessage(std::string_view text, std::uint8_t soundEnable, const std::string& touchSoundPath);

// The same window, returning at once: it opens clear of the strip and closes itself on OK;
// nothing waits for it. At most one is open: a later call shows its text in it.
void showMessageWithoutWaiting(std::string_view text, std::uint8_t soundEnable, const std::string& touchSoundPath);

}  // namespace kelvor
