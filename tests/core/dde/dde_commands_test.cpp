#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "core/dde/dde_commands.h"

namespace kelvor::dde {
namespace {

struct MatchCase {
  const char* sent;  // UTF-8, as a client sends it
  Command command;
  const char* argument;  // trailing blanks removed for comparison
};

TEST(CommandMatcher, FollowsCaseBlankPrefixAndArgumentRules) {
  const MatchCase cases[] = {
      // Exact commands: any case, trailing blanks ignored, nothing else around them.
      {"[RUN]", Command::Run, ""},
      {"[run]", Command::Run, ""},
      {"[Run]   ", Command::Run, ""},
      {" [RUN]", Command::None, ""},
      {"[RUN]x", Command::None, ""},
      {"[RUN][STOP]", Command::None, ""},
      {"[RUN] [STOP]", Command::None, ""},
      {"[APPCLOSE]", Command::AppClose, ""},
      {"[apptop]", Command::AppTop, ""},
      {"[APPHIDE]", Command::AppHide, ""},
      {"[opto?]", Command::Opto, ""},
      {"[STOP]", Command::Stop, ""},
      {"[REQUEST]", Command::Request, ""},
      {"[WAITRS]", Command::WaitRs, ""},
      {"[WAITRS", Command::None, ""},
      {"[CLEARBUF]", Command::ClearBuf, ""},
      {"", Command::None, ""},
      {"RUN", Command::None, ""},
      // Prefixes: the argument ends two characters before the end, which are not checked.
      {"[SEND(abc)]", Command::Send, "ABC"},
      {"[send(abc)]  ", Command::Send, "ABC"},
      {"[SEND(a b )]", Command::Send, "A B"},
      {"[SEND(abcXY", Command::Send, "ABC"},
      {"[SEND()]", Command::Send, ""},
      {"[SEND(", Command::Send, ""},  // negative length: all blanks
      {"[SEND(x", Command::Send, "X"},  // negative length: everything after the prefix
      {"[SEND(xy", Command::Send, ""},
      {"[SEND_W(12)]", Command::SendW, "12"},
      {"[SEND_W()]", Command::SendW, ""},
      {"[WAIT(1.5)]", Command::Wait, "1.5"},
      {"[LOAD(test.klv)]", Command::Load, "TEST.KLV"},
      {"[MESSAGE(hello)]", Command::Message, "HELLO"},
      {"[MESSAGE(Grüße)]", Command::Message, "GRüßE"},  // only a to z are upper-cased
      {"[SEND(a)][RUN]", Command::Send, "A)][RU"},     // a prefix takes the rest as its argument
      {" [SEND(abc)]", Command::None, ""},
      {"[SENDabc)]", Command::None, ""},
  };
  for (const auto& c : cases) {
    const MatchedCommand m = matchCommand(commandText(c.sent));
    EXPECT_EQ(m.command, c.command) << c.sent;
    EXPECT_EQ(trimRight(windows1252ToUtf8(m.argument)), c.argument) << c.sent;
  }
}

// An execute string of several bracketed commands runs each as if sent alone; anything that
// is not such a sequence is one command, as above.
TEST(CommandMatcher, SplitsASequenceOfBracketedCommands) {
  struct SequenceCase {
    const char* sent;
    std::vector<std::pair<Command, const char*>> commands;
  };
  const SequenceCase cases[] = {
      {"[SEND(ab)][SEND(cd)]", {{Command::Send, "AB"}, {Command::Send, "CD"}}},
      {"[CLEARBUF][RUN]", {{Command::ClearBuf, ""}, {Command::Run, ""}}},
      {"[run][stop]  ", {{Command::Run, ""}, {Command::Stop, ""}}},
      {"[SEND(a)][RUN]", {{Command::Send, "A"}, {Command::Run, ""}}},
      {"[SEND(a]b)][WAIT(1.5)][MESSAGE(x y)]", {{Command::Send, "A]B"}, {Command::Wait, "1.5"}, {Command::Message, "X Y"}}},
      {"[SEND_W(1)][LOAD(a.klv)]", {{Command::SendW, "1"}, {Command::Load, "A.KLV"}}},
      {"[NOSUCH][RUN]", {{Command::None, ""}, {Command::Run, ""}}},  // unknown: does nothing, alone
      {"[SEND()][SEND()]", {{Command::Send, ""}, {Command::Send, ""}}},
      // Not a sequence: one command, with the single command's rules.
      {"[RUN] [STOP]", {{Command::None, ""}}},
      {"[RUN][STOP", {{Command::None, ""}}},
      {"[RUN]x", {{Command::None, ""}}},
      {"[SEND(ab)] [RUN]", {{Command::Send, "AB)] [RU"}}},
      {"[SEND(abcXY", {{Command::Send, "ABC"}}},
      {"[SEND(a)])]", {{Command::Send, "A)]"}}},
      {"[RUN]", {{Command::Run, ""}}},
      {"", {{Command::None, ""}}},
  };
  for (const auto& c : cases) {
    const std::vector<MatchedCommand> got = matchCommands(commandText(c.sent));
    ASSERT_EQ(got.size(), c.commands.size()) << c.sent;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].command, c.commands[i].first) << c.sent << " #" << i;
      EXPECT_EQ(trimRight(got[i].argument), c.commands[i].second) << c.sent << " #" << i;
    }
  }
}

TEST(CommandText, IsWindows1252CutTo127CharactersAndUpperCased) {
  // Characters, not bytes, are counted: 127 two-byte characters fit.
  const std::string umlauts = [] {
    std::string s;
    for (int i = 0; i < 200; ++i) s += "ä";
    return s;
  }();
  const Text<250> cut = commandText(umlauts);
  EXPECT_EQ(cut.trimmed(), std::string(127, '\xE4'));

  EXPECT_EQ(commandText("[send(€ 1)]").trimmed(), "[SEND(\x80 1)]");
  EXPECT_EQ(commandText("[send(\xE2\x98\x83)]").trimmed(), "[SEND(?)]");  // a snowman is not in Windows-1252
  EXPECT_EQ(commandText(std::string("[send(\t\x01)]")).trimmed(), "[SEND(\t\x01)]");

  // A megabyte of text: the command is its first 127 characters, and [SEND( still matches.
  std::string huge = "[SEND(" + std::string(1 << 20, 'a') + ")]";
  const MatchedCommand m = matchCommand(commandText(huge));
  EXPECT_EQ(m.command, Command::Send);
  EXPECT_EQ(trimRight(m.argument), std::string(127 - 6 - 2, 'A'));
}

TEST(DecimalReading, ReadsSecondsWithAFraction) {
  const std::pair<const char*, double> cases[] = {
      {"1.5", 1.5}, {"  2", 2}, {"0", 0}, {"-3", -3}, {"abc", 0}, {"", 0},
      {".5", 0.5},  {"2.", 2},  {"1,5", 1}, {"0.01", 0.01}, {"7x", 7},
  };
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(readDecimal(text), value) << text;
}

class PathLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::filesystem::temp_directory_path() / ("kelvor_dde_path_" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "Configs");
    std::ofstream(root / "Configs" / "Line3.klv") << "[APP]\n";
    std::ofstream(root / "Demo.KLV") << "[APP]\n";
  }
  void TearDown() override { std::filesystem::remove_all(root); }
  std::filesystem::path root;
};

TEST_F(PathLookup, MatchesEveryPartWithoutRegardToCase) {
  const std::string dir = root.string();
  EXPECT_EQ(findPathIgnoringCase(dir, "DEMO.KLV"), dir + "/Demo.KLV");
  EXPECT_EQ(findPathIgnoringCase(dir, "CONFIGS\\LINE3.KLV"), dir + "/Configs/Line3.klv");
  EXPECT_EQ(findPathIgnoringCase(dir, "CONFIGS/LINE3.KLV"), dir + "/Configs/Line3.klv");
  EXPECT_EQ(findPathIgnoringCase(dir, "MISSING/LINE3.KLV"), dir + "/MISSING/LINE3.KLV");
  EXPECT_EQ(findPathIgnoringCase(dir, "NONE.KLV"), dir + "/NONE.KLV");
  EXPECT_EQ(std::filesystem::path(findPathIgnoringCase("/nowhere", dir + "/CONFIGS/LINE3.KLV")),
            root / "Configs" / "Line3.klv");
  EXPECT_EQ(findPathIgnoringCase("", "DEMO.KLV"), "/DEMO.KLV");  // the root gives ""
}

}  // namespace
}  // namespace kelvor::dde
