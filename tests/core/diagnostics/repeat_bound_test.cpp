#include "core/diagnostics/repeat_bound.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvor {
namespace {

// 50,000 times the same message, beside another cause and many different ones: each cause
// writes its first five in full and then only its counts, so the lines stay a handful.
TEST(RepeatBound, WritesTheFirstFewOfACauseThenOnlyItsCounts) {
  RepeatBound bound;
  int lines = 0, otherLines = 0, countLines = 0;
  for (int i = 0; i < 50000; ++i) {
    const std::string line = bound.line("QDBusSignature: invalid signature \"\"");
    if (line.empty()) continue;
    ++lines;
    if (line.find("50000 times") != std::string::npos) ADD_FAILURE() << "not a power of ten: " << line;
    if (line.find("10000 times so far") != std::string::npos) ++countLines;
  }
  EXPECT_EQ(lines, 5 + 4);  // five in full, then the counts at 10, 100, 1,000 and 10,000
  EXPECT_EQ(countLines, 1);
  EXPECT_EQ(bound.line("another cause"), "another cause");  // not silenced by the flood
  for (int i = 0; i < 100000; ++i) otherLines += bound.line("cause " + std::to_string(i)).empty() ? 0 : 1;
  EXPECT_LT(otherLines, 256 + 5 + 5);
}

}  // namespace
}  // namespace kelvor
