#include "serial/keystroke_output.h"

#include "tests/recording_notices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvor {
namespace {

// Keyboard and host write into one log, so the tests see the order of everything.
using Log = std::vector<std::string>;

class RecordingKeyboard : public KeyboardSynth {
 public:
  RecordingKeyboard(Log& log, bool available) : log_(log), available_(available) {}
  bool available() const override { return available_; }
  void typeText(std::string_view utf8) override { log_.push_back("type " + std::string(utf8)); }
  void pressRight() override { log_.push_back("Right"); }
  void pressLeft() override { log_.push_back("Left"); }

 private:
  Log& log_;
  bool available_;
};

class RecordingHost : public KeystrokeHost {
 public:
  explicit RecordingHost(Log& log) : log_(log) {}
  void focusKeyCatcher() override { log_.push_back("focus"); }
  void setSendKeyIcon(std::string_view icon) override { log_.push_back("icon " + std::string(icon)); }
  void playKeySound(std::string_view file, std::uint8_t soundEnable) override {
    log_.push_back("sound " + std::string(file) + " " + std::to_string(soundEnable));
  }

 private:
  Log& log_;
};

Configuration keyConfig(std::uint8_t bufferMode, std::uint8_t keySound) {
  Configuration config;
  config.BUFFERMODE = bufferMode;
  config.ENABLEKEYSOUND = keySound;
  config.SOUNDENABLE = 1;
  config.FILESOUNDKEY = "sound\\key.wav";
  return config;
}

struct DeliveryCase {
  const char* behaviour;
  std::string frame;
  Configuration config;
  Log expected;
};

TEST(KeystrokeOutput, DeliveryShowsSendingTypesThenShowsDoneAndPlaysKeySound) {
  const std::vector<DeliveryCase> cases = {
      {"plain form", "12.5", keyConfig(0, 1),
       {"focus", "icon ~psend.ico", "type 12.5\r", "icon ~pok.ico", "sound sound\\key.wav 1"}},
      {"no key sound when ENABLEKEYSOUND is 0", "12.5", keyConfig(0, 0),
       {"focus", "icon ~psend.ico", "type 12.5\r", "icon ~pok.ico"}},
      {"star record types nothing but still ends on ok with the sound", "P01*", keyConfig(1, 1),
       {"focus", "icon ~psend.ico", "icon ~pok.ico", "sound sound\\key.wav 1"}},
      // An empty piece presses no key at all; the arrows still move between the cells.
      {"measurement record with an empty value", "P01 DIA", keyConfig(1, 0),
       {"focus", "icon ~psend.ico", "type P01", "Right", "type DIA            ", "Right", "Right", "type   \r", "Left",
        "Left", "Left", "icon ~pok.ico"}},
  };
  for (const DeliveryCase& c : cases) {
    SCOPED_TRACE(c.behaviour);
    Log log;
    RecordingKeyboard keyboard(log, true);
    RecordingHost host(log);
    RecordingNotices notices(&log);
    KeystrokeOutput output(keyboard, host, notices);
    output.deliver(Text<2550>(c.frame), c.config);
    EXPECT_EQ(log, c.expected);
  }
}

TEST(KeystrokeOutput, SoundEnableIsPassedOnSoTheSoundSwitchDecides) {
  Log log;
  RecordingKeyboard keyboard(log, true);
  RecordingHost host(log);
  RecordingNotices notices(&log);
  KeystrokeOutput output(keyboard, host, notices);
  Configuration config = keyConfig(0, 1);
  config.SOUNDENABLE = 0;
  output.deliver(Text<2550>("1"), config);
  EXPECT_EQ(log.back(), "sound sound\\key.wav 0");
}

TEST(KeystrokeOutput, WithoutKeyboardTellsUserOnceAndDeliveryGoesOn) {
  Log log;
  RecordingKeyboard keyboard(log, false);
  RecordingHost host(log);
  RecordingNotices notices(&log);
  KeystrokeOutput output(keyboard, host, notices);
  output.deliver(Text<2550>("12.5"), keyConfig(0, 1));
  output.deliver(Text<2550>("13.5"), keyConfig(0, 1));
  const Log expected = {"focus", "icon ~psend.ico", "mention Kelvor: " + std::string(kNoKeyboardText), "icon ~pok.ico",
                        "sound sound\\key.wav 1",
                        "focus", "icon ~psend.ico", "icon ~pok.ico", "sound sound\\key.wav 1"};
  EXPECT_EQ(log, expected);
  EXPECT_NE(std::string(kNoKeyboardText).find("X11"), std::string::npos);
}

TEST(KeystrokeOutput, FrameBytesAreTypedAsUtf8OrElseAsWindows1252) {
  struct Case {
    const char* behaviour;
    std::string bytes;
    std::string typed;
  } cases[] = {
      {"ASCII", "12.5\r", "12.5\r"},
      {"valid UTF-8 stays", "25\xC2\xB0" "C \xC2\xB5m \xE2\x82\xAC", "25\xC2\xB0" "C \xC2\xB5m \xE2\x82\xAC"},
      {"degree and micro bytes of Windows-1252", "25\xB0" "C 3\xB5m", "25\xC2\xB0" "C 3\xC2\xB5m"},
      {"euro byte of Windows-1252", "\x80" "5", "\xE2\x82\xAC" "5"},
      {"e acute of Windows-1252", "caf\xE9", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.behaviour);
    EXPECT_EQ(frameCharacters(c.bytes), c.typed);
  }
}

TEST(KeystrokeOutput, Windows1252FrameReachesKeyboardAsUtf8) {
  Log log;
  RecordingKeyboard keyboard(log, true);
  RecordingHost host(log);
  RecordingNotices notices(&log);
  KeystrokeOutput output(keyboard, host, notices);
  output.deliver(Text<2550>("25\xB0" "C"), keyConfig(0, 0));
  EXPECT_EQ(log.at(2), "type 25\xC2\xB0" "C\r");
}

}  // namespace
}  // namespace kelvor
