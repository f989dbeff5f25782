// Types frames into the focused X window through the real keystroke output, as the main
// window would deliver them. Used by the end-to-end typing test and the typing benchmark.
//
// Usage: type_frame BUFFERMODE FRAME [FRAME...]
//        type_frame --serve
// Each FRAME is taken byte for byte (so a shell can hand in Windows-1252 bytes). With
// --serve, one keyboard lives for the whole run: each input line "BUFFERMODE FRAME" is
// typed and answered with "typed" once the keystrokes are with the server, so a test can
// change the keymap between frames and see that the keyboard follows.

#include <iostream>
#include <string>

#include "platform/xtest_keyboard.h"
#include "serial/keystroke_output.h"
#include "tests/recording_notices.h"

namespace {

class SilentHost : public kelvor::KeystrokeHost {
 public:
  void focusKeyCatcher() override {}
  void setSendKeyIcon(std::string_view) override {}
  void playKeySound(std::string_view, std::uint8_t) override {}
};

void deliver(kelvor::KeystrokeOutput& output, std::string_view bufferMode, std::string_view frame) {
  kelvor::Configuration config;
  config.BUFFERMODE = kelvor::keepWidth<std::uint8_t>(kelvor::readNumber(bufferMode));
  output.deliver(kelvor::Text<2550>(frame), config);
}

}  // namespace

int main(int argc, char** argv) {
  const bool serve = argc == 2 && std::string(argv[1]) == "--serve";
  if (argc < 3 && !serve) {
    std::cerr << "usage: type_frame BUFFERMODE FRAME [FRAME...] | type_frame --serve\n";
    return 2;
  }
  const auto keyboard = kelvor::openXTestKeyboard();
  if (!keyboard->available()) {
    std::cerr << kelvor::kNoKeyboardText << '\n';
    return 1;
  }
  SilentHost host;
  kelvor::RecordingNotices notices;
  kelvor::KeystrokeOutput output(*keyboard, host, notices);
  if (!serve) {
    for (int i = 2; i < argc; ++i) deliver(output, argv[1], argv[i]);
    return 0;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::size_t blank = line.find(' ');
    deliver(output, line.substr(0, blank), blank == std::string::npos ? "" : line.substr(blank + 1));
    std::cout << "typed" << std::endl;
  }
  return 0;
}
