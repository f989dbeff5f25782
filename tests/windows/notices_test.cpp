#include "windows/notices.h"

#include <gtest/gtest.h>

namespace kelvor {
namespace {

TEST(Win32Notices, LogKeepsItsNewerHalfFromALineStart) {
  struct Case {
    std::string log;
    std::string kept;
  };
  const Case cases[] = {
      {"", ""},
      {"aaaa\nbbbb\ncccc\ndddd\n", "dddd\n"},       // the line under the middle goes too
      {"a\nb\nccccccccccccc\n", ""},               // no line starts in the newer half
      {"aaaaaaaaaaaaa\nb\nc\n", "b\nc\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(newerHalf(c.log), c.kept) << c.log;
}

}  // namespace
}  // namespace kelvor
