#include "serial/keystroke_output.h"

#include "toolkit/encoding.h"

namespace kelvor {

std::string frameCharacters(std::string_view bytes) { return displayText(bytes); }

void KeystrokeOutput::perform(const KeyAction& action) {
  switch (action.kind) {
    case KeyAction::Kind::typeText:
      if (!action.text.empty()) keyboard_.typeText(frameCharacters(action.text));
      break;
    case KeyAction::Kind::pressRight:
      keyboard_.pressRight();
      break;
    case KeyAction::Kind::pressLeft:
      keyboard_.pressLeft();
      break;
  }
}

void KeystrokeOutput::deliver(const Text<2550>& currentFrame, const Configuration& config) {
  host_.focusKeyCatcher();
  host_.setSendKeyIcon("~psend.ico");

  if (keyboard_.available()) {
    for (const KeyAction& action : planKeystrokes(currentFrame, config.BUFFERMODE)) perform(action);
  } else if (!toldNoKeyboard_) {
    // Said once: a message per reading would bury the user, and the rest of the delivery
    // (DDE value, icon, sound) goes on without the keyboard.
    toldNoKeyboard_ = true;
    notices_.mention({NoticeKind::Warning, "Kelvor", std::string(kNoKeyboardText), NoticeKind::Information});
  }

  host_.setSendKeyIcon("~pok.ico");
  if (config.ENABLEKEYSOUND == 1) host_.playKeySound(config.FILESOUNDKEY.trimmed(), config.SOUNDENABLE);
}

}  // namespace kelvor
