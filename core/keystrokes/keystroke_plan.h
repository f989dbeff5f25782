#pragma once
// The keystroke plan: what typing one delivered frame means, as a list of actions, worked
// out without touching the keyboard.
//
// The plain form (BUFFERMODE 0) types the frame without its trailing blanks and Enter. The
// structured form (BUFFERMODE not 0) spreads a fixed-layout record over neighbouring input
// cells of a spreadsheet-like program, moving between them with the arrow keys; the record
// kind is read from fixed positions of the first 127 characters of the frame:
//   - "*" at position 4: nothing is typed;
//   - "+" at position 6: a result record (verdict from position 21);
//   - "CMT" at positions 5-7: a comment record;
//   - anything else: a measurement record, whose positions 5-19 are split into a label
//     and a value (codes 43 to 57: "+ , - . /" and the digits).
// Texts are the frame's own bytes; CR ("\r") stands for the Enter key. How bytes become
// characters is the keyboard's business (keyboard_synth.h).

#include <cstdint>
#include <string>
#include <vector>

#include "core/toolkit/text.h"

namespace kelvor {

struct KeyAction {
  enum class Kind { typeText, pressRight, pressLeft };
  Kind kind = Kind::typeText;
  std::string text;  // the bytes to type, for typeText only

  friend bool operator==(const KeyAction&, const KeyAction&) = default;
};

// The first 127 characters of the frame, blank padding included: what the keystrokes are
// made from (`keyText`).
ZField<128> keyTextOf(const Text<2550>& currentFrame);

// The actions that type `currentFrame` in the form BUFFERMODE selects.
std::vector<KeyAction> planKeystrokes(const Text<2550>& currentFrame, std::uint8_t BUFFERMODE);

}  // namespace kelvor
