// Types frames into the focused X window through the real keystroke output, as the main
// window would deliver them. Used by the end-to-end typing test and the typing benchmark.
//
// Usage: type_frame BUFFERMODE FRAME [FRAME...]
// Each FRAME is taken byte for byte (so a shell can hand in Windows-1252 bytes).

#include <cstdio>
#include <iostream>

#include "platform/xtest_keyboard.h"
#include "serial/keystroke_output.h"

namespace {

class SilentHost : public kelvor::KeystrokeHost {
 public:
  void focusKeyCatcher() override {}
  void setSendKeyIcon(std::string_view) override {}
  void playKeySound(std::string_view, std::uint8_t) override {}
  void tellUser(std::string_view text) override { std::cerr << text << '\n'; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: type_frame BUFFERMODE FRAME [FRAME...]\n";
    return 2;
  }
  kelvor::Configuration config;
  config.BUFFERMODE = kelvor::keepWidth<std::uint8_t>(kelvor::readNumber(argv[1]));
  const auto keyboard = kelvor::openXTestKeyboard();
  if (!keyboard->available()) {
    std::cerr << kelvor::kNoKeyboardText << '\n';
    return 1;
  }
  SilentHost host;
  kelvor::KeystrokeOutput output(*keyboard, host);
  for (int i = 2; i < argc; ++i) output.deliver(kelvor::Text<2550>(argv[i]), config);
  return 0;
}
