// kelvor-dde's command line, the same on both desks: what a script may rely on.
#include "core/dde/client_command_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kelvor::dde {
namespace {

constexpr ClientHelp kHelp{" over a test", "    Test.", "goes"};

struct Case {
  std::vector<std::string> args;
  std::optional<int> exit;  // nullopt: the command runs
  std::string service, topic;
  int timeoutMs;
  std::vector<std::string> words;
};

TEST(ClientCommandLine, OptionsAnywhereBothFormsAndWordsAfterTheMark) {
  const std::vector<Case> cases = {
      {{"request"}, std::nullopt, "Kelvor", "System", 10000, {"request"}},
      {{"poke", "--service", "Bench-2", "Value", "--topic=Lab", "x"}, std::nullopt, "Bench-2", "Lab", 10000,
       {"poke", "Value", "x"}},
      {{"--timeout=1.5", "execute", "[RUN]"}, std::nullopt, "Kelvor", "System", 1500, {"execute", "[RUN]"}},
      {{"poke", "Value", "--", "-5"}, std::nullopt, "Kelvor", "System", 10000, {"poke", "Value", "-5"}},
      {{"--timeout", "0.0001", "request", "-"}, std::nullopt, "Kelvor", "System", 1, {"request", "-"}},
      {{"--help"}, 0, "", "", 0, {}},
      {{"-v", "bogus"}, 0, "", "", 0, {}},
      {{}, 2, "", "", 0, {}},
      {{"bogus"}, 2, "", "", 0, {}},
      {{"execute"}, 2, "", "", 0, {}},
      {{"poke", "Value"}, 2, "", "", 0, {}},
      {{"request", "a", "b"}, 2, "", "", 0, {}},
      {{"poke", "Value", "-5"}, 2, "", "", 0, {}},
      {{"--frobnicate", "request"}, 2, "", "", 0, {}},
      {{"request", "--service"}, 2, "", "", 0, {}},
      {{"--service", "9x", "request"}, 2, "", "", 0, {}},
      {{"--service", "a.b", "request"}, 2, "", "", 0, {}},
      {{"--timeout", "0", "request"}, 2, "", "", 0, {}},
      {{"--timeout", "1,5", "request"}, 2, "", "", 0, {}},
      {{"--timeout", "nan", "request"}, 2, "", "", 0, {}},
  };
  for (const Case& c : cases) {
    std::ostringstream shown;
    for (const auto& a : c.args) shown << '[' << a << ']';
    SCOPED_TRACE(shown.str());
    ClientOptions options;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const std::optional<int> exit = parseClientCommandLine(c.args, kHelp, "9.9", options);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(exit, c.exit);
    if (!c.exit) {
      EXPECT_EQ(options.service, c.service);
      EXPECT_EQ(options.topic, c.topic);
      EXPECT_EQ(options.timeoutMs, c.timeoutMs);
      EXPECT_EQ(options.words, c.words);
    } else if (*c.exit == 2) {
      EXPECT_EQ(err.rfind("kelvor-dde: ", 0), 0u) << err;
      EXPECT_TRUE(out.empty());
    } else {
      EXPECT_FALSE(out.empty());
    }
  }
}

TEST(ClientCommandLine, TheHelpSaysHowThisDeskTalks) {
  const std::string help = clientHelpText(kHelp);
  EXPECT_EQ(help.rfind("NAME\n    kelvor-dde - send DDE messages to Kelvor over a test\n", 0), 0u);
  EXPECT_NE(help.find("DESCRIPTION\n    Test.\n"), std::string::npos);
  EXPECT_NE(help.find("until the server goes\n        (exit 1)"), std::string::npos);
}

}  // namespace
}  // namespace kelvor::dde
