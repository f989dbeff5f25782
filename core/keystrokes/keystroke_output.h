#pragma once
// Keystroke output: types each delivered frame into the focused window of another program
// (ENABLESENDKEY), in the plain or the structured form (keystroke_plan.h), and shows the
// user that it happens: the key-output status icon reads "~psend.ico" while typing and
// "~pok.ico" afterwards, and the key sound plays when ENABLEKEYSOUND is 1.
//
// Frames are typed whole and in the order they were delivered, never interleaved. With no
// keystroke delay ([KEYBOARD] DELAYMS 0) and a keyboard ready, a frame is typed at once,
// inside the delivery. Otherwise frames wait in a queue and are typed later, keystroke by
// keystroke, from the host's timer, so that the poll goes on every 20 ms meanwhile: a
// 127-character reading with 20 ms between keystrokes takes 2.5 s to type. Frames also wait
// while the keyboard waits for the desktop's permission; they are dropped, with a word to
// the user, when the keyboard gives up instead (refused, compositor gone), so that a frame
// is never finished later into some other window.
// While one of Kelvor's own windows has the keyboard focus, nothing is typed: the
// keystrokes would tick its check boxes and press its buttons. Readings delivered meanwhile
// are not typed at all, and frames still held are dropped, since typed later they would
// land in whatever window gets the focus next. The strip shows the pause, said once.
//
// The main window supplies the host (its focus, its icon, its sound, its timer); the
// keyboard is the platform's (serial/keyboard_choice.h) or a test's.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings/configuration.h"
#include "core/keystrokes/keyboard_synth.h"
#include "core/keystrokes/keystroke_plan.h"
#include "core/toolkit/notices.h"
#include "core/toolkit/text.h"

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
  // Runs `then` once, `milliseconds` from now, when the main window handles its events again
  // (not while a modal window is open). A new call replaces one that has not run yet.
  virtual void callAfter(int milliseconds, std::function<void()> then) = 0;
  // Shows which keyboard types (the key-output icon's tooltip).
  virtual void showKeyboard(std::string_view) {}
  // Whether one of Kelvor's own windows has the keyboard focus: keystrokes would land in it.
  virtual bool ownWindowFocused() const { return false; }
  // Shows on the strip that typing is paused (true) or goes on again (false).
  virtual void showTypingPaused(bool) {}
};

// Shown once when frames are to be typed but there is no X display to type into.
inline constexpr std::string_view kNoKeyboardText =
    "Kelvor cannot type readings into other windows: typing keystrokes needs an X11 session, "
    "and this session has no X display. Everything else goes on as usual.";

// Said once each time typing pauses because a window of Kelvor's has the keyboard focus.
inline constexpr std::string_view kTypingPausedText =
    "Typing paused: a Kelvor window has the keyboard focus. Readings are not typed until the "
    "window of another program has it again; they still reach DDE, the reading log and MQTT.";

// Frames held at most; a reading beyond that is not typed (told once), so that a keyboard
// that never becomes ready, or a long delay behind a fast instrument, cannot eat memory.
inline constexpr std::size_t kMaxHeldFrames = 1000;

// The longest pause between keystrokes: a larger DELAYMS is read as this.
inline constexpr int kMaxKeystrokeDelayMs = 10000;

// The characters a text of frame bytes stands for, as UTF-8: bytes that are valid UTF-8
// stay as they are, any other text is read byte by byte as Windows-1252.
std::string frameCharacters(std::string_view bytes);

// The keystrokes of a plan one at a time: every text split into its characters (UTF-8),
// control characters other than CR and TAB left out, as they type nothing.
std::vector<KeyAction> singleKeystrokes(const std::vector<KeyAction>& plan);

class KeystrokeOutput {
 public:
  // `notices`: where the words about what the keyboard cannot do go; it must not wait.
  KeystrokeOutput(KeyboardSynth& keyboard, KeystrokeHost& host, Notices& notices);
  ~KeystrokeOutput();
  KeystrokeOutput(const KeystrokeOutput&) = delete;
  KeystrokeOutput& operator=(const KeystrokeOutput&) = delete;

  // Types one delivered frame (the common frame around the plan): focus to the
  // key-catcher, "~psend.ico", the keystrokes, "~pok.ico", the key sound; now, or in turn.
  void deliver(const Text<2550>& currentFrame, const Configuration& config);

  // Frames delivered and not yet typed to the end.
  std::size_t heldFrames() const { return held_.size(); }

 private:
  struct HeldFrame {
    std::vector<KeyAction> strokes;  // texts already as UTF-8 characters
    std::size_t next = 0;
    bool started = false;
    int delayMs = 0;
    std::uint8_t keySound = 0;
    std::uint8_t soundEnable = 0;
    std::string soundFile;
  };

  void resume();
  void pump();
  void perform(const KeyAction& action);
  void finish(const HeldFrame& frame);
  void dropHeld();
  // A window of Kelvor's has the focus: nothing held survives, the pause is shown once.
  void pause();
  // The focus is elsewhere again: the strip stops showing the pause.
  void endPause();
  // What the keyboard cannot do, for the user; empty when it types everywhere.
  std::string currentProblem() const;
  void tellProblemOnce();
  void tell(const std::string& text);

  KeyboardSynth& keyboard_;
  KeystrokeHost& host_;
  Notices& notices_;
  std::deque<HeldFrame> held_;
  bool pumping_ = false;
  bool timerPending_ = false;
  bool keyboardChanged_ = false;
  bool toldTooMany_ = false;
  bool paused_ = false;
  std::string toldProblem_;
};

}  // namespace kelvor
