#pragma once
// Keystroke output: types each delivered frame into the focused window of another program
// (ENABLESENDKEY), in the plain or the structured form (keystroke_plan.h), and shows the
// user that it happens: the key-output status icon reads "~psend.ico" while typing and
// "~pok.ico" afterwards, and the key sound plays when ENABLEKEYSOUND is 1.
//
// The main window supplies the host (its focus, its icon, its sound); the keyboard is the
// platform's (platform/xtest_keyboard.h) or a test's.

#include <cstdint>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "serial/keyboard_synth.h"
#include "serial/keystroke_plan.h"
#include "serial/reading_output.h"
#include "toolkit/notices.h"
#include "toolkit/text.h"

namespace kelvor {

// What the keystroke output needs from the main window.
class KeystrokeHost {
 public:
  virtual ~KeystrokeHost() = default;
  // Moves the main window's own focus to its key-catcher button, so that nothing typed can
  // trigger one of Kelvor's controls.
  virtual void focusKeyCatcher() = 0;
  // Shows a built-in icon ("~psend.ico", "~pok.ico") as the key-output status and repaints.
  virtual void setSendKeyIcon(std::string_view iconName) = 0;
  // Plays a sound file when soundEnable is 1 (playSoundIfEnabled).
  virtual void playKeySound(std::string_view fileName, std::uint8_t soundEnable) = 0;
};

// Shown once when frames are to be typed but there is no X display to type into.
inline constexpr std::string_view kNoKeyboardText =
    "Kelvor cannot type readings into other windows: typing keystrokes needs an X11 session, "
    "and this session has no X display. Everything else goes on as usual.";

// The characters a text of frame bytes stands for, as UTF-8: bytes that are valid UTF-8
// stay as they are, any other text is read byte by byte as Windows-1252.
std::string frameCharacters(std::string_view bytes);

class KeystrokeOutput : public ReadingOutput {
 public:
  // `notices`: where the one word about a missing keyboard goes; it must not wait.
  KeystrokeOutput(KeyboardSynth& keyboard, KeystrokeHost& host, Notices& notices)
      : keyboard_(keyboard), host_(host), notices_(notices) {}

  // Types one delivered frame (the common frame around the plan): focus to the
  // key-catcher, "~psend.ico", the keystrokes, "~pok.ico", the key sound.
  void deliver(const Text<2550>& currentFrame, const Configuration& config) override;

 private:
  void perform(const KeyAction& action);

  KeyboardSynth& keyboard_;
  KeystrokeHost& host_;
  Notices& notices_;
  bool toldNoKeyboard_ = false;
};

}  // namespace kelvor
