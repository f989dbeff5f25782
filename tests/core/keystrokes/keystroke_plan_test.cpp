#include "core/keystrokes/keystroke_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvor {
namespace {

KeyAction T(std::string text) { return {KeyAction::Kind::typeText, std::move(text)}; }
const KeyAction R{KeyAction::Kind::pressRight, {}};
const KeyAction L{KeyAction::Kind::pressLeft, {}};

std::string describe(const std::vector<KeyAction>& actions) {
  std::string out;
  for (const KeyAction& a : actions) {
    if (a.kind == KeyAction::Kind::pressRight) out += "[Right]";
    else if (a.kind == KeyAction::Kind::pressLeft) out += "[Left]";
    else out += "[type \"" + a.text + "\"]";
  }
  return out;
}

struct PlanCase {
  const char* behaviour;
  std::string frame;
  std::uint8_t bufferMode;
  std::vector<KeyAction> expected;
};

void expectPlans(const std::vector<PlanCase>& cases) {
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.behaviour);
    const auto actual = planKeystrokes(Text<2550>(c.frame), c.bufferMode);
    EXPECT_EQ(describe(actual), describe(c.expected));
  }
}

TEST(KeystrokePlan, PlainFormTypesFrameWithoutTrailingBlanksThenEnter) {
  expectPlans({
      {"a short reading", "12.5", 0, {T("12.5\r")}},
      {"leading blanks belong to the reading", "   12.5   ", 0, {T("   12.5\r")}},
      {"a blank frame still gives Enter", "", 0, {T("\r")}},
      {"a star at position 4 means nothing in the plain form", "ABC*12", 0, {T("ABC*12\r")}},
      {"only the first 127 characters are typed", std::string(126, 'x') + "yz" + std::string(50, 'q'), 0,
       {T(std::string(126, 'x') + "y\r")}},
  });
}

TEST(KeystrokePlan, PlainFormLeavesOutAUtf8CharacterCutAtTheLimit) {
  expectPlans({
      {"two-byte character cut after its first byte", std::string(126, 'a') + "\xC3\xA9" + "b", 0,
       {T(std::string(126, 'a') + "\r")}},
      {"three-byte character cut after two bytes", std::string(125, 'a') + "\xE2\x82\xAC" + "b", 0,
       {T(std::string(125, 'a') + "\r")}},
      {"a character that fits is kept", std::string(125, 'a') + "\xC3\xA9" + "b", 0,
       {T(std::string(125, 'a') + "\xC3\xA9\r")}},
      // Windows-1252 text is not UTF-8: its last byte is a character of its own.
      {"Windows-1252 bytes at the limit stay", std::string(126, 'a') + "\xC3(", 0,
       {T(std::string(126, 'a') + "\xC3\r")}},
  });
}

TEST(KeystrokePlan, StarAtPositionFourTypesNothing) {
  expectPlans({
      {"result layout", "P01*B+0.250        =", 1, {}},
      {"any record", "123*", 1, {}},
      {"any non-zero buffer mode", "123*", 255, {}},
  });
}

TEST(KeystrokePlan, ResultRecordTypesVerdictWordFromPositionTwentyOne) {
  // Positions 1-3 "P01", 4-19 "AB+0.250 mm     ", 20 blank, 21 the verdict mark.
  const std::string head = "P01AB+0.250 mm      ";
  const std::vector<KeyAction> common = {T("P01"), R, T("AB+0.250 mm     "), R};
  auto withVerdict = [&](const char* word) {
    auto actions = common;
    actions.push_back(T(word));
    actions.push_back(L);
    actions.push_back(L);
    return actions;
  };
  expectPlans({
      {"= is Good", head + "=", 1, withVerdict("Good\r")},
      {"- is Reject", head + "-", 1, withVerdict("Reject\r")},
      {"+ is Rework", head + "+", 1, withVerdict("Rework\r")},
      {"anything else is ?", head + "x", 2, withVerdict("?\r")},
      {"a frame ending before 21 reads a blank there", head, 1, withVerdict("?\r")},
      {"what follows position 21 is not typed", head + "=TRAILING", 1, withVerdict("Good\r")},
  });
}

TEST(KeystrokePlan, CommentRecordTypesThirtyCharactersFromPositionFive) {
  const std::string text = "CMT operator changed the probe and then some more";
  expectPlans({
      {"comment cut at position 34", "P01 " + text, 1, {T("P01"), R, T(text.substr(0, 30) + "\r"), L}},
      {"short comment padded with blanks", "P01 CMT ok", 1,
       {T("P01"), R, T("CMT ok" + std::string(24, ' ') + "\r"), L}},
  });
}

TEST(KeystrokePlan, MeasurementRecordSplitsLabelFromValueByCharacterCode) {
  expectPlans({
      {"label with blanks and a value", "P01 DIA    0.123   OK", 1,
       {T("P01"), R, T("DIA       "), R, T("0.123"), R, T("OK\r"), L, L, L}},
      {"a digit inside the label goes to the value", "P01 M2A     -1,5/   X", 1,
       {T("P01"), R, T("MA       "), R, T("2-1,5/"), R, T(" X\r"), L, L, L}},
      // 42 "*" and 58 ":" lie just outside the value codes 43..57.
      {"code boundaries", "P01 *:+90     abcdef", 1,
       {T("P01"), R, T("*:     abcde"), R, T("+90"), R, T("f \r"), L, L, L}},
      {"a short frame reads as blanks", "P01", 1,
       {T("P01"), R, T(std::string(15, ' ')), R, T(""), R, T("  \r"), L, L, L}},
      {"an empty frame is still a record", "", 1,
       {T("   "), R, T(std::string(15, ' ')), R, T(""), R, T("  \r"), L, L, L}},
  });
}

TEST(KeystrokePlan, KeyTextIsTheFirst127CharactersWithPadding) {
  EXPECT_EQ(keyTextOf(Text<2550>("12.5")).str(), "12.5" + std::string(123, ' '));
  EXPECT_EQ(keyTextOf(Text<2550>(std::string(200, 'z'))).str(), std::string(127, 'z'));
}

}  // namespace
}  // namespace kelvor
