#include "core/line/port_control.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fake_serial_library.h"
#include "tests/core/recording_notices.h"

namespace kelvor {
namespace {

using testing::FakeSerialLibrary;
using Calls = std::vector<std::string>;

// The notices go into the same list as the library calls, so the order between windows
// and library is checked too.
struct PortRig {
  Configuration config;
  Language language;  // no language file: texts fall back to their bracketed keys
  Reception reception;
  FakeSerialLibrary library;
  RecordingNotices notices{&library.calls};
  PortContext context{config, language, reception, library, notices};

  PortRig() { reception.portWindowHandle = 0x1234; }
};

struct OpenCase {
  const char* behaviour;
  std::uint8_t autoConfig;
  std::int16_t setPortResult;
  std::int16_t initPortResult;
  Calls expected;
  friend void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.behaviour; }
};

class OpenPort : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenPort, RunsItsStepsInOrder) {
  const OpenCase& c = GetParam();
  PortRig rig;
  rig.config.PORT = 2;
  rig.config.AUTO = c.autoConfig;
  rig.config.BAUDRATE = keepWidth<std::int16_t>(38400);
  rig.config.PARITY = 2;
  rig.config.DATABITS = 7;
  rig.config.STOPBITS = 1;
  rig.config.USECTS = 1;
  rig.config.USEXON = 0;
  rig.config.USEDTR = 1;
  rig.library.setPortResult = c.setPortResult;
  rig.library.initPortResult = c.initPortResult;
  openPort(rig.context);
  EXPECT_EQ(rig.library.calls, c.expected) << c.behaviour;
  EXPECT_EQ(rig.reception.portStatus, c.setPortResult);
}

// The handle 0x1234 is 4660.
INSTANTIATE_TEST_SUITE_P(
    Table, OpenPort,
    ::testing::Values(
        OpenCase{"line settings from the configuration, 38400 as -27136, DTR raised",
                 0,
                 0,
                 0,
                 {"SetPortEx(2,4660,1000,1000,1,0,1)", "InitPort(2,-27136,2,7,1)", "Dtr(2,1)", "ComDelay(4660,5)",
                  "ClrBuf(2)"}},
        OpenCase{"AUTO 1: notice around the opening, no line settings, no DTR",
                 1,
                 0,
                 0,
                 {"busy Open port RS232", "SetPortEx(2,4660,1000,1000,1,0,1)", "ComDelay(4660,5)", "ClrBuf(2)",
                  "busy closed"}},
        OpenCase{"AUTO other than 0 or 1: no notice and no line settings",
                 7,
                 0,
                 0,
                 {"SetPortEx(2,4660,1000,1000,1,0,1)", "ComDelay(4660,5)", "ClrBuf(2)"}},
        OpenCase{"a refused open is reported and nothing else is called",
                 0,
                 3,
                 0,
                 {"SetPortEx(2,4660,1000,1000,1,0,1)", "DisplayPortError(3)"}},
        OpenCase{"a refused open with AUTO 1 removes the notice after the report",
                 1,
                 3,
                 0,
                 {"busy Open port RS232", "SetPortEx(2,4660,1000,1000,1,0,1)", "DisplayPortError(3)",
                  "busy closed"}},
        OpenCase{"refused line settings: ERROR box, then the port is reset",
                 0,
                 0,
                 1,
                 {"SetPortEx(2,4660,1000,1000,1,0,1)", "InitPort(2,-27136,2,7,1)",
                  "tell ERROR: [CONFIGERROR]\nCOM3 refused 38400 baud, 7 data bits, even parity, 1 stop bit.",
                  "ResetPort(2,4660)"}}));

TEST(OpenPort, TheErrorBoxShowsTheLanguageTextOfSectionPortWithoutTrailingBlanks) {
  const std::string path = ::testing::TempDir() + "/kelvor_port_test_" + std::to_string(getpid()) + ".lan";
  {
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("[MAIN]\nconfigERROR=\xA6wrong text\n[PORT]\nconfigERROR=\xA6" "Check the line settings   \n", f);
    std::fclose(f);
  }
  PortRig rig;
  rig.language.languageFilePath = path;
  rig.language.languageSection = "MAIN";
  rig.library.initPortResult = 1;
  openPort(rig.context);
  // The text names the port and what it refused.
  EXPECT_EQ(rig.library.calls.at(2), "tell ERROR: Check the line settings\nCOM1 refused 0 baud, 0 data bits, no parity, "
                                     "0 stop bits.");
  EXPECT_EQ(rig.language.languageSection, "PORT");
  std::remove(path.c_str());
}

TEST(ClosePort, RunsTheSameStepsWhetherOrNotTheOpeningWorked) {
  for (std::uint8_t autoConfig : {0, 1, 2}) {
    PortRig rig;
    rig.config.PORT = 1;
    rig.config.AUTO = autoConfig;
    closePort(rig.context);
    Calls expected{"ClrBuf(1)", "ComDelay(4660,5)", "ResetPort(1,4660)"};
    if (autoConfig == 1) {
      expected.insert(expected.begin(), "busy Close Port RS232");
      expected.push_back("busy closed");
    }
    EXPECT_EQ(rig.library.calls, expected) << "AUTO " << int(autoConfig);
  }
}

TEST(OpenPort, ANeverLoadedConfigurationOpensCom1WithZeroSettings) {
  PortRig rig;
  rig.reception.portWindowHandle = 0;
  openPort(rig.context);
  EXPECT_EQ(rig.library.calls.at(0), "SetPortEx(0,0,1000,1000,0,0,0)");
  EXPECT_EQ(rig.library.calls.at(1), "InitPort(0,0,0,0,0)");
}

}  // namespace
}  // namespace kelvor
