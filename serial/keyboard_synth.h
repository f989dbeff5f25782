#pragma once
// The keyboard Kelvor types with: key strokes delivered to whatever window has the input
// focus, as if the user had typed them.
//
// What an implementation promises:
// - typeText types each character of a UTF-8 text exactly, whatever the keyboard layout
//   and the Caps Lock or Num Lock state; "\r" is the Return key and "\t" the Tab key;
//   other control characters are left out.
// - pressRight and pressLeft press the arrow keys.
// - No call leaves a key or a modifier pressed, and the lock state the user had is kept.
// - available() is false when there is nothing to type into (no X display); the calls
//   then do nothing.

#include <string_view>

namespace kelvor {

class KeyboardSynth {
 public:
  virtual ~KeyboardSynth() = default;
  virtual bool available() const = 0;
  virtual void typeText(std::string_view utf8) = 0;
  virtual void pressRight() = 0;
  virtual void pressLeft() = 0;
};

}  // namespace kelvor
