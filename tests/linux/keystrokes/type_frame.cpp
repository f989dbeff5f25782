// Types frames into the focused window through the real keystroke output and a real
// keyboard (XTest, or the Wayland virtual keyboard), as the main window would deliver them.
// Used by the end-to-end typing tests and the typing benchmark.
//
// Usage: type_frame [--keyboard xtest|wayland] [--delay MS] BUFFERMODE FRAME [FRAME...]
//        type_frame [--keyboard xtest|wayland] [--delay MS] --serve
// Each FRAME is taken byte for byte (so a shell can hand in Windows-1252 bytes). With
// --serve, one keyboard lives for the whole run: each input line "BUFFERMODE FRAME" is
// typed and answered with "typed" once the keystrokes are with the server, so a test can
// change the keymap between frames and see that the keyboard follows.

#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "linux/wayland_keyboard.h"
#include "linux/xtest_keyboard.h"
#include "core/keystrokes/keystroke_output.h"
#include "tests/core/recording_notices.h"

namespace {

class SilentHost : public kelvor::KeystrokeHost {
 public:
  void focusKeyCatcher() override {}
  void setSendKeyIcon(std::string_view) override {}
  void playKeySound(std::string_view, std::uint8_t) override {}
  void callAfter(int milliseconds, std::function<void()> then) override {
    due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    then_ = std::move(then);
  }
  // Runs what the output asked to run later, at its time, until nothing is left.
  void drain() {
    while (then_) {
      std::this_thread::sleep_until(due_);
      auto then = std::move(then_);
      then_ = nullptr;
      then();
    }
  }

 private:
  std::chrono::steady_clock::time_point due_;
  std::function<void()> then_;
};

void deliver(kelvor::KeystrokeOutput& output, std::string_view bufferMode, std::string_view frame, int delayMs) {
  kelvor::Configuration config;
  config.DELAYMS = delayMs;
  config.BUFFERMODE = kelvor::keepWidth<std::uint8_t>(kelvor::readNumber(bufferMode));
  output.deliver(kelvor::Text<2550>(frame), config);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string keyboardName = "xtest";
  int delayMs = 0;
  while (args.size() >= 2 && (args[0] == "--keyboard" || args[0] == "--delay")) {
    if (args[0] == "--keyboard") keyboardName = args[1];
    if (args[0] == "--delay") delayMs = std::stoi(args[1]);
    args.erase(args.begin(), args.begin() + 2);
  }
  const bool serve = args.size() == 1 && args[0] == "--serve";
  if ((args.size() < 2 && !serve) || (keyboardName != "xtest" && keyboardName != "wayland")) {
    std::cerr << "usage: type_frame [--keyboard xtest|wayland] [--delay MS] BUFFERMODE FRAME [FRAME...]\n"
                 "       type_frame [--keyboard xtest|wayland] [--delay MS] --serve\n";
    return 2;
  }
  const auto keyboard = keyboardName == "wayland" ? kelvor::openWaylandKeyboard() : kelvor::openXTestKeyboard();
  if (!keyboard->available()) {
    std::cerr << (keyboard->problem().empty() ? std::string(kelvor::kNoKeyboardText) : keyboard->problem()) << '\n';
    return 1;
  }
  SilentHost host;
  kelvor::RecordingNotices notices;
  kelvor::KeystrokeOutput output(*keyboard, host, notices);
  if (!serve) {
    for (std::size_t i = 1; i < args.size(); ++i) deliver(output, args[0], args[i], delayMs);
    host.drain();
    return 0;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::size_t blank = line.find(' ');
    deliver(output, line.substr(0, blank), blank == std::string::npos ? "" : line.substr(blank + 1), delayMs);
    host.drain();
    std::cout << "typed" << std::endl;
  }
  return 0;
}
