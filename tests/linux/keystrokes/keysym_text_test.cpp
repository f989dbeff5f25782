#include "linux/keysym_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvor {
namespace {

TEST(KeysymText, EachCharacterIsItsSymbolAndWhatTypesNothingIsLeftOut) {
  struct Case {
    const char* behaviour;
    std::string utf8;
    std::vector<std::uint32_t> keysyms;
  } cases[] = {
      {"ASCII and Latin-1 are their own symbols", "a Z\xC2\xB5\xC2\xB0\xC3\xA9", {0x61, 0x20, 0x5A, 0xB5, 0xB0, 0xE9}},
      {"CR is Return, TAB is Tab", "1\r\t", {0x31, kKeysymReturn, kKeysymTab}},
      {"the euro and Omega keep the layouts' own symbols", "\xE2\x82\xAC\xCE\xA9", {0x20AC, 0x7D9}},
      {"other characters are Unicode symbols", "\xE2\x98\x83", {0x1002603}},
      {"control characters, DEL and C1 type nothing", "a\x01\x1B\x7F\xC2\x85" "b", {0x61, 0x62}},
      {"unassigned code points type nothing", "a\xCD\xB8\xF0\x9F\xBF\xBE" "b", {0x61, 0x62}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    EXPECT_EQ(keysymsOf(c.utf8), c.keysyms);
  }
}

}  // namespace
}  // namespace kelvor
