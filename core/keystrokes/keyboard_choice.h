#pragma once
// The keyboard of this session, picked from candidates in order of preference: on a
// Wayland desktop the virtual keyboard or the remote-desktop portal first, XTest through
// Xwayland last. When the keyboard in use gives up (the portal is missing, the user
// refused, the compositor went away) the next candidate takes over, and problem() says in
// plain words what happened and what the new one cannot reach.
//
// A candidate is opened only when typing is first needed (asked whether it is available, or
// open() is called): a desktop that asks the user's permission should not ask a user who
// never types readings.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/keystrokes/keyboard_synth.h"

namespace kelvor {

struct KeyboardCandidate {
  std::string name;  // shown before it is opened
  std::function<std::unique_ptr<KeyboardSynth>()> open;
  // Said when this candidate takes over from one that gave up, or is first in line only
  // because the better ones are missing ("only X11 windows receive the readings").
  std::string fallbackNote;
};

class ChosenKeyboard final : public KeyboardSynth {
 public:
  explicit ChosenKeyboard(std::vector<KeyboardCandidate> candidates);
  ~ChosenKeyboard() override;

  // Opens the first candidate (and those after it while each gives up at once).
  void open() const;

  bool available() const override;
  bool waiting() const override;
  std::string name() const override;
  std::string problem() const override;
  void typeText(std::string_view utf8) override;
  void pressRight() override;
  void pressLeft() override;

 private:
  void moveOnWhileGivenUp() const;
  void currentChanged();
  void forgetRetired();

  std::vector<KeyboardCandidate> candidates_;
  // Opening on first use is not a change anyone can see, so the const questions may open.
  mutable std::size_t index_ = 0;
  mutable std::unique_ptr<KeyboardSynth> current_;
  // Keyboards given up while one of their own calls may still be running (the change
  // handler runs from inside them): destroyed at the next call from outside.
  mutable std::vector<std::unique_ptr<KeyboardSynth>> retired_;
  mutable std::string givenUp_;  // what the candidates before the current one said
};

}  // namespace kelvor
