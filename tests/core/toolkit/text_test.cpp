#include <gtest/gtest.h>

#include "core/toolkit/encoding.h"
#include "core/toolkit/message_lines.h"
#include "core/toolkit/placement.h"
#include "core/toolkit/text.h"

namespace kelvor {
namespace {

struct SubstringCase {
  const char* text;
  long long start;
  long long length;
  const char* expected;
};

TEST(Substring, FollowsTheStartAndLengthRules) {
  const SubstringCase cases[] = {
      {"ABCDEFGH", 3, 4, "CDEF"},    {"ABCDEFGH", 0, 2, "AB"},    {"ABCDEFGH", 1, 0, ""},
      {"ABCDEFGH", -2, 5, "GH"},     {"ABCDEFGH", -1, 1, "H"},    {"ABCDEFGH", -20, 3, "ABC"},
      {"ABCDEFGH", 9, 1, ""},        {"ABCDEFGH", 8, 1, "H"},     {"ABCDEFGH", 6, 100, "FGH"},
      {"ABCDEFGH", 6, -1, "FGH"},    {"", 1, 5, ""},               {"", 0, -1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(substring(c.text, c.start, c.length), c.expected)
        << c.text << " from " << c.start << " for " << c.length;
  }
}

TEST(NumberReading, SkipsBlanksTakesSignAndStopsAtFirstOtherCharacter) {
  EXPECT_EQ(readNumber(""), 0);
  EXPECT_EQ(readNumber("   42"), 42);
  EXPECT_EQ(readNumber("-27136"), -27136);
  EXPECT_EQ(readNumber("12.7"), 12);
  EXPECT_EQ(readNumber("3,9"), 3);
  EXPECT_EQ(readNumber("abc"), 0);
  EXPECT_EQ(readNumber("+5"), 0);
  EXPECT_EQ(readNumber("- 5"), 0);
  EXPECT_EQ(readNumber("007"), 7);
  EXPECT_GT(readNumber(std::string(500, '9')), 0);  // far too long: no overflow to negative
}

TEST(FieldWidths, KeepOnlyWhatFits) {
  EXPECT_EQ(keepWidth<std::uint8_t>(300), 44);
  EXPECT_EQ(keepWidth<std::uint8_t>(-1), 255);
  EXPECT_EQ(keepWidth<std::int16_t>(40000), -25536);
  EXPECT_EQ(keepWidth<std::int16_t>(38400), -27136);
  EXPECT_EQ(keepWidth<std::int32_t>(4294967296LL + 7), 7);
  EXPECT_EQ(writeNumber(keepWidth<std::int16_t>(38400)), "-27136");
}

TEST(Text, CutsPadsAndComparesWithoutTrailingBlanks) {
  Text<8> name("SCALE1");
  EXPECT_EQ(name.padded(), "SCALE1  ");
  EXPECT_EQ(name.trimmed(), "SCALE1");
  EXPECT_TRUE(name == "SCALE1      ");
  EXPECT_FALSE(name == " SCALE1");
  name = "ABCDEFGHIJ";
  EXPECT_EQ(name.padded(), "ABCDEFGH");
  EXPECT_TRUE(Text<4>().isBlank());
}

TEST(Text, PathsArePaddedButNeverCut) {
  const std::string longPath = "/home/user/" + std::string(300, 'x') + ".wav";
  PathText<250> path(longPath);
  EXPECT_EQ(path.trimmed(), longPath);
  PathText<250> shortPath("/a.wav");
  EXPECT_EQ(shortPath.padded().size(), 250u);
}

TEST(ZField, HoldsAtMostOneLessThanItsSizeAndKeepsZeroBytes) {
  ZField<128> value(std::string(200, 'a'));
  EXPECT_EQ(value.size(), 127u);
  ZField<10> withZero(std::string("ab\0cd", 5));
  EXPECT_EQ(withZero.size(), 5u);
  EXPECT_EQ(withZero.cText(), "ab");
}

// A value read by people and DDE clients counts characters: "µ" is one, a cut never splits
// one, and bytes that are not UTF-8 are Windows-1252 characters.
TEST(ZField, WithCharactersHoldsCharactersNeverASplitOne) {
  const std::string micro = "\xC2\xB5";
  std::string seventyMicro;
  for (int i = 0; i < 70; ++i) seventyMicro += micro;
  struct Case {
    std::string assigned;
    std::string held;
  };
  const Case cases[] = {
      {"+012.50 \xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9", "+012.50 \xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9"},
      {std::string(126, 'X') + micro + "m", std::string(126, 'X') + micro},  // not the lone 0xC2
      {seventyMicro, seventyMicro},                                         // 70 characters fit
      {seventyMicro + seventyMicro, [&] {
         std::string s;
         for (int i = 0; i < 127; ++i) s += micro;
         return s;
       }()},
      {"25\xB0" "C", "25\xC2\xB0" "C"},                                        // Windows-1252 bytes
      {"\xF0\x9F\x98\x80" + std::string(200, 'a'), "\xF0\x9F\x98\x80" + std::string(126, 'a')},
      {"", ""},
  };
  for (const auto& c : cases) {
    const ZField<128, Fit::Characters> value(c.assigned);
    EXPECT_EQ(value.str(), c.held) << c.assigned;
    EXPECT_TRUE(isValidUtf8(value.str())) << c.assigned;
  }
  // The strip's first 20 characters of a padded frame.
  EXPECT_EQ((ZField<21, Fit::Characters>(Text<2550>("+012.50 \xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9").padded()).cText()),
            "+012.50 \xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9  ");
}

TEST(Encoding, ShowsWindows1252AsUtf8AndBack) {
  EXPECT_EQ(displayText("\xA6"), "\xC2\xA6");          // broken bar
  EXPECT_EQ(displayText("\x80"), "\xE2\x82\xAC");      // euro
  EXPECT_EQ(displayText("caf\xC3\xA9"), "caf\xC3\xA9");  // already UTF-8
  EXPECT_EQ(toWindows1252("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xE9 \x80");
  EXPECT_EQ(toWindows1252("\xE4\xB8\xAD"), "?");      // outside the code page
  EXPECT_FALSE(isValidUtf8("\xC3"));
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));           // surrogate
}

TEST(PlaceClearOf, AWindowNeverOpensOverTheStrip) {
  const Box screen{0, 0, 1920, 1080};
  struct Case {
    const char* where;
    Box strip;
    Box expected;
  } cases[] = {
      {"strip in a corner: centred", {0, 0, 254, 52}, {760, 190, 400, 700}},
      {"strip over the middle: just below it", {833, 200, 254, 52}, {760, 260, 400, 700}},
      {"no room below: just above it", {833, 850, 254, 52}, {760, 142, 400, 700}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    EXPECT_EQ(placeClearOf(c.strip, 400, 700, screen), c.expected);
  }
  // Larger than the screen: its top left corner stays on it.
  EXPECT_EQ(placeClearOf({0, 0, 254, 52}, 2000, 1200, screen), (Box{0, 0, 2000, 1200}));
}

TEST(MessageLines, SplitsIntoThreeCentredLinesOfFifty) {
  struct Case {
    std::string text;
    std::string line1, line2, line3;
  };
  const std::string sixty = std::string(50, 'a') + std::string(10, 'b');
  const std::string oneSixty = std::string(50, '1') + std::string(50, '2') + std::string(50, '3') + "4444444444";
  const Case cases[] = {
      {"", "", "", ""},
      {"      ABC", "   ABC   ", "", ""},
      {"     ABC", "   ABC  ", "", ""},  // of five leading blanks, three stay in front
      {sixty, std::string(50, 'a'), std::string(10, 'b'), ""},
      {oneSixty, std::string(50, '1'), std::string(50, '2'), std::string(50, '3')},
      {"Hello   ", "Hello", "", ""},
  };
  for (const Case& c : cases) {
    const MessageLines lines = messageLines(c.text);
    EXPECT_EQ(lines.line[0], padRight(c.line1, 50)) << c.text;
    EXPECT_EQ(lines.line[1], padRight(c.line2, 50)) << c.text;
    EXPECT_EQ(lines.line[2], padRight(c.line3, 50)) << c.text;
  }
}

}  // namespace
}  // namespace kelvor
