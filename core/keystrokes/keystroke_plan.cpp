#include "core/keystrokes/keystroke_plan.h"

#include <string_view>

#include "core/toolkit/encoding.h"

namespace kelvor {
namespace {

KeyAction typeText(std::string text) { return {KeyAction::Kind::typeText, std::move(text)}; }
KeyAction right() { return {KeyAction::Kind::pressRight, {}}; }
KeyAction left() { return {KeyAction::Kind::pressLeft, {}}; }

// The verdict a result record carries at position 21, as the word typed into its cell.
std::string verdictWord(std::string_view mark) {
  if (mark == "=") return "Good\r";
  if (mark == "-") return "Reject\r";
  if (mark == "+") return "Rework\r";
  return "?\r";
}

// Codes 43 to 57 ("+ , - . /" and the digits) make up a measured value; everything else in
// the measurement field, blanks included, belongs to its label.
bool isValueCharacter(char c) { return c >= 43 && c <= 57; }

// keyText keeps 127 bytes; a UTF-8 frame cut there can end inside a character. Typed as it
// stands, the broken tail would make the whole text invalid UTF-8 and every character
// would be typed as Windows-1252, so the cut character is left out instead.
std::string withoutCutCharacter(std::string text, const Text<2550>& currentFrame) {
  const std::string whole = currentFrame.trimmed();
  if (whole.size() <= text.size() || !isValidUtf8(whole)) return text;
  for (int dropped = 0; dropped < 3 && !isValidUtf8(text); ++dropped) text.pop_back();
  return text;
}

void planStructured(const std::string& k, std::vector<KeyAction>& actions) {
  if (substring(k, 4, 1) == "*") return;

  actions.push_back(typeText(substring(k, 1, 3)));
  actions.push_back(right());

  if (substring(k, 6, 1) == "+") {
    actions.push_back(typeText(substring(k, 4, 16)));
    actions.push_back(right());
    actions.push_back(typeText(verdictWord(substring(k, 21, 1))));
    actions.push_back(left());
    actions.push_back(left());
  } else if (substring(k, 5, 3) == "CMT") {
    actions.push_back(typeText(substring(k, 5, 30) + "\r"));
    actions.push_back(left());
  } else {
    std::string label;
    std::string value;
    for (const char c : substring(k, 5, 15)) (isValueCharacter(c) ? value : label) += c;
    actions.push_back(typeText(label));
    actions.push_back(right());
    actions.push_back(typeText(value));
    actions.push_back(right());
    actions.push_back(typeText(substring(k, 20, 2) + "\r"));
    actions.push_back(left());
    actions.push_back(left());
    actions.push_back(left());
  }
}

}  // namespace

ZField<128> keyTextOf(const Text<2550>& currentFrame) {
  return ZField<128>(std::string_view(currentFrame.padded()).substr(0, 127));
}

std::vector<KeyAction> planKeystrokes(const Text<2550>& currentFrame, std::uint8_t BUFFERMODE) {
  const ZField<128> keyText = keyTextOf(currentFrame);
  std::vector<KeyAction> actions;
  if (BUFFERMODE == 0) {
    actions.push_back(typeText(withoutCutCharacter(trimRight(keyText.str()), currentFrame) + "\r"));
  } else {
    // Positions are read over the blank-padded 127 characters, so a short frame reads as
    // blanks where the record layout expects more.
    planStructured(padRight(keyText.str(), 127), actions);
  }
  return actions;
}

}  // namespace kelvor
