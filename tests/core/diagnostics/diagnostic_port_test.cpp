#include "core/diagnostics/diagnostic_port.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvor {
namespace {

Configuration framing(int select, int endOfChar, const char* endString = "", int count = 0) {
  Configuration config;
  config.SELECTENDOF = static_cast<std::uint8_t>(select);
  config.ENDOFCHAR = static_cast<std::uint8_t>(endOfChar);
  config.ENDOFSTRING = endString;
  config.NUMBEROFBYTE = count;
  return config;
}

// The test window's line under its field: what it waits for, and what it sees instead.
TEST(FrameEndHint, SaysWhichEndIsAwaitedAndWhatArrivesInstead) {
  struct Case {
    Configuration config;
    std::string held, hint;
  };
  const Case cases[] = {
      {framing(1, 2), "", ""},
      {framing(1, 2), "12.5",
       "No frame end seen yet in 4 bytes: the configuration expects CR LF."},
      {framing(1, 2), "12.5\r",
       "No frame end seen yet in 5 bytes: the configuration expects CR LF."},
      {framing(1, 2), "12.5\r12.6\r",
       "No frame end seen yet in 10 bytes: the configuration expects CR LF. The instrument ends its readings "
       "with CR alone: choose CR under \"End of char\"."},
      {framing(1, 1), "7", "No frame end seen yet in 1 byte: the configuration expects CR."},
      {framing(3, 0, "#\r"), "ab", "No frame end seen yet in 2 bytes: the configuration expects the end string "
                                   "\"#<CR>\"."},
      {framing(2, 0, "", 12), "abc", "3 bytes of a frame of 12 bytes received so far (\"Number of byte\" in the "
                                     "configuration)."},
      {framing(0, 0), "abc", "3 bytes received, but the configuration cuts no frames: choose one under \"Select "
                             "end of record\"."},
  };
  for (const Case& c : cases) {
    Reception reception;
    reception.frameBuffer = c.held;
    EXPECT_EQ(frameEndHint(c.config, reception), c.hint) << c.held;
  }
}

}  // namespace
}  // namespace kelvor
