#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/settings/configuration_window_rules.h"
#include "core/line/serial_ports.h"
#include "core/system/system.h"

namespace kelvor {
namespace {

TEST(AutoToggle, FlipsBetweenZeroAndOneAndLocksTheLineParametersWhenSet) {
  struct Case {
    std::uint8_t before;
    std::uint8_t after;
    bool locked;
  };
  // 7 can come from a hand-edited file: it counts as set, so a toggle clears it.
  for (const Case c : {Case{0, 1, true}, Case{1, 0, false}, Case{7, 0, false}}) {
    Configuration config;
    config.AUTO = c.before;
    EXPECT_EQ(toggleAuto(config), c.locked) << int(c.before);
    EXPECT_EQ(config.AUTO, c.after) << int(c.before);
    EXPECT_EQ(lineParametersLocked(config), c.locked) << int(c.before);
  }
}

TEST(BufferModeRule, ClearsConvertOnlyWhileBufferModeIsOne) {
  struct Case {
    std::uint8_t bufferMode;
    std::uint8_t convert;
    bool cleared;
    std::uint8_t convertAfter;
  };
  for (const Case c : {Case{1, 1, true, 0}, Case{0, 1, false, 1}, Case{1, 0, false, 0}, Case{0, 0, false, 0},
                       Case{2, 1, false, 1}}) {
    Configuration config;
    config.BUFFERMODE = c.bufferMode;
    config.ENABLECONVERTVALUE = c.convert;
    Configuration expected = config;
    expected.ENABLECONVERTVALUE = c.convertAfter;
    EXPECT_EQ(applyBufferModeRule(config), c.cleared) << int(c.bufferMode) << "/" << int(c.convert);
    EXPECT_EQ(config, expected) << "only ENABLECONVERTVALUE may change";
  }
}

TEST(Windows1252Entry, AcceptsWhatTheCodePageHoldsAndRefusesTheRest) {
  struct Case {
    const char* typed;
    bool accepted;
  };
  for (const Case c : {Case{"SCALE1", true}, Case{"", true}, Case{"what?", true}, Case{"\xC2\xB0" "C", true},
                       Case{"\xE2\x82\xAC", true},      // euro sign, 0x80 in Windows-1252
                       Case{"\xE4\xB8\xAD", false},     // a CJK character
                       Case{"ok\xF0\x9F\x98\x80", false}}) {
    EXPECT_EQ(representableAsWindows1252(c.typed), c.accepted) << c.typed;
  }
}

class ComDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_ = (std::filesystem::temp_directory_path() / ("kelvor-comdevice-" + std::to_string(getpid()) + ".ini")).string();
  }
  void TearDown() override { std::filesystem::remove(ini_); }
  std::string ini_;
};

TEST_F(ComDevice, TakesThePortsKeyOrFallsBackToTheSystemsOwnName) {
  std::ofstream(ini_) << "[SCREEN]\nPosX=3\n[ports]\ncom1 = /dev/ttyUSB0\nCOM2=\nCOM8=/dev/serial/by-id/usb-scale\n";
  EXPECT_EQ(comDevice(ini_, 0), "/dev/ttyUSB0");  // section and key in another case
  EXPECT_EQ(comDevice(ini_, 1), defaultSerialDevice(1));    // blank key
  EXPECT_EQ(comDevice(ini_, 2), defaultSerialDevice(2));    // missing key
  EXPECT_EQ(comDevice(ini_, 7), "/dev/serial/by-id/usb-scale");
  EXPECT_EQ(comDevice(ini_, 8), "");
}

TEST_F(ComDevice, WithoutKelvorIniEveryPortIsTheSystemsOwn) {
  for (int port = 0; port < 8; ++port) {
    EXPECT_EQ(comDevice(ini_, port), defaultSerialDevice(port));
    EXPECT_NE(defaultSerialDevice(port), "");
    if (port > 0) {
      EXPECT_NE(defaultSerialDevice(port), defaultSerialDevice(port - 1));
    }
  }
  EXPECT_EQ(defaultSerialDevice(8), "");
}

}  // namespace
}  // namespace kelvor
