#pragma once
// The keyboard Kelvor types with: key strokes delivered to whatever window has the input
// focus, as if the user had typed them. One implementation per desktop: XTest on X11, a
// virtual keyboard on wlroots compositors, the remote-desktop portal on other Wayland
// desktops (platform/), chosen at start (serial/keyboard_choice.h).
//
// What an implementation promises:
// - typeText types each character of a UTF-8 text exactly, whatever the keyboard layout
//   and the Caps Lock or Num Lock state; "\r" is the Return key and "\t" the Tab key;
//   other control characters are left out.
// - pressRight and pressLeft press the arrow keys.
// - No call leaves a key or a modifier pressed, and the lock state the user had is kept.
// - No call waits for another program: a keyboard that needs an answer first (the desktop
//   asking the user's permission) says so with waiting() and types nothing meanwhile.
// - available() is false when there is nothing to type into (no X display, the compositor
//   went away, the desktop refused); the calls then do nothing and problem() says why.
// - When waiting() or available() changes on its own (an answer came, the connection was
//   lost), the keyboard calls the change handler, possibly from inside a call of its own.

#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace kelvor {

class KeyboardSynth {
 public:
  virtual ~KeyboardSynth() = default;
  virtual bool available() const = 0;
  virtual bool waiting() const { return false; }
  // The keyboard in use, in a few words for the user ("XTest: X11 windows").
  virtual std::string name() const = 0;
  // Why typing does not go where the user may expect, in plain words; empty when all is well.
  virtual std::string problem() const { return {}; }
  virtual void typeText(std::string_view utf8) = 0;
  virtual void pressRight() = 0;
  virtual void pressLeft() = 0;

  void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

 protected:
  void changed() {
    if (changed_) changed_();
  }

 private:
  std::function<void()> changed_;
};

}  // namespace kelvor
