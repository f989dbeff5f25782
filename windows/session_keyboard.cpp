#include "windows/session_keyboard.h"

#include <windows.h>

#include <vector>

#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

INPUT key(WORD virtualKey, WORD unit, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = unit;
  input.ki.dwFlags = flags;
  return input;
}

void press(std::vector<INPUT>& inputs, WORD virtualKey) {
  // The arrows are extended keys: without the flag they could arrive as the keypad's.
  const DWORD extended = virtualKey == VK_LEFT || virtualKey == VK_RIGHT ? KEYEVENTF_EXTENDEDKEY : 0;
  inputs.push_back(key(virtualKey, 0, extended));
  inputs.push_back(key(virtualKey, 0, extended | KEYEVENTF_KEYUP));
}

class SendInputKeyboard : public KeyboardSynth {
 public:
  bool available() const override { return true; }
  std::string name() const override { return "SendInput (Windows)"; }
  std::string problem() const override { return problem_; }

  void typeText(std::string_view utf8) override {
    std::vector<INPUT> inputs;
    for (wchar_t unit : toWide(utf8)) {
      if (unit == L'\r') {
        press(inputs, VK_RETURN);
      } else if (unit == L'\t') {
        press(inputs, VK_TAB);
      } else if (unit >= 0x20 && unit != 0x7F) {
        // A character beyond the first plane goes as its two halves, each down and up.
        inputs.push_back(key(0, unit, KEYEVENTF_UNICODE));
        inputs.push_back(key(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
      }
    }
    send(inputs);
  }
  void pressRight() override { pressOne(VK_RIGHT); }
  void pressLeft() override { pressOne(VK_LEFT); }

 private:
  void pressOne(WORD virtualKey) {
    std::vector<INPUT> inputs;
    press(inputs, virtualKey);
    send(inputs);
  }

  // One call for the whole text, so that the user's own typing cannot come in between.
  void send(std::vector<INPUT>& inputs) {
    if (inputs.empty()) return;
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    const std::string before = problem_;
    // Windows refuses input to a window of higher integrity (a program run as administrator).
    problem_ = sent == inputs.size()
                   ? std::string()
                   : "Windows did not take all the keystrokes (the window with the focus may belong to a program "
                     "run as administrator, which Kelvor cannot type into).";
    if (problem_ != before) changed();
  }

  std::string problem_;
};

}  // namespace

std::unique_ptr<ChosenKeyboard> openSessionKeyboard(const std::string&) {
  KeyboardCandidate sendInput{"SendInput (Windows)", [] { return std::make_unique<SendInputKeyboard>(); }, ""};
  return std::make_unique<ChosenKeyboard>(std::vector{sendInput});
}

}  // namespace kelvor
