#include "core/keystrokes/keystroke_output.h"

#include "tests/core/recording_notices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/keystrokes/keyboard_choice.h"

namespace kelvor {
namespace {

// Keyboard and host write into one log, so the tests see the order of everything.
using Log = std::vector<std::string>;

class RecordingKeyboard : public KeyboardSynth {
 public:
  RecordingKeyboard(Log& log, bool available, std::string name = "recording") : log_(log), available_(available), name_(name) {}
  bool available() const override { return available_; }
  bool waiting() const override { return waiting_; }
  std::string name() const override { return name_; }
  std::string problem() const override { return problem_; }
  void typeText(std::string_view utf8) override {
    log_.push_back("type " + std::string(utf8));
    seen(std::string(utf8));
    if (--strokesBeforeLoss_ == 0) giveUp("the compositor went away.");
  }
  void pressRight() override {
    log_.push_back("Right");
    seen("\u2192");
  }
  void pressLeft() override {
    log_.push_back("Left");
    seen("\u2190");
  }

  // What a real keyboard does when its answer comes or its connection is lost.
  void becomeReady() {
    waiting_ = false;
    changed();
  }
  void giveUp(std::string why) {
    waiting_ = false;
    available_ = false;
    problem_ = std::move(why);
    changed();
  }
  bool waiting_ = false;
  int strokesBeforeLoss_ = -1;
  // With a clock: what the user sees, each key (arrows as → and ←) at the moment it arrives.
  const int* clock = nullptr;
  std::vector<std::pair<int, std::string>> keys;

 private:
  void seen(std::string key) {
    if (clock) keys.emplace_back(*clock, std::move(key));
  }
  Log& log_;
  bool available_;
  std::string name_;
  std::string problem_;
};

class RecordingHost : public KeystrokeHost {
 public:
  explicit RecordingHost(Log& log) : log_(log) {}
  void focusKeyCatcher() override { log_.push_back("focus"); }
  void setSendKeyIcon(std::string_view icon) override { log_.push_back("icon " + std::string(icon)); }
  void playKeySound(std::string_view file, std::uint8_t soundEnable) override {
    log_.push_back("sound " + std::string(file) + " " + std::to_string(soundEnable));
  }
  void callAfter(int milliseconds, std::function<void()> then) override {
    log_.push_back("after " + std::to_string(milliseconds));
    pendingMs_ = milliseconds;
    then_ = std::move(then);
  }
  void showKeyboard(std::string_view name) override { log_.push_back("keyboard " + std::string(name)); }
  bool ownWindowFocused() const override { return ownFocus; }
  void showTypingPaused(bool paused) override { log_.push_back(paused ? "paused" : "typing again"); }
  bool ownFocus = false;
  int now = 0;  // milliseconds: the timer moves the clock on when it fires

  // The timer fires: runs what was asked for last. False when nothing was pending.
  bool fire() {
    if (!then_) return false;
    now += pendingMs_;
    auto then = std::move(then_);
    then_ = nullptr;
    then();
    return true;
  }

 private:
  Log& log_;
  std::function<void()> then_;
  int pendingMs_ = 0;
};

Configuration keyConfig(std::uint8_t bufferMode, std::uint8_t keySound, std::int32_t delayMs = 0) {
  Configuration config;
  config.DELAYMS = delayMs;
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

TEST(KeystrokeOutput, WithADelayEachKeystrokeWaitsItsTurnAndFramesNeverInterleave) {
  Log log;
  RecordingKeyboard keyboard(log, true);
  RecordingHost host(log);
  keyboard.clock = &host.now;
  RecordingNotices notices(&log);
  KeystrokeOutput output(keyboard, host, notices);
  output.deliver(Text<2550>("1\xB5"), keyConfig(0, 1, 20));
  // A second frame comes while the first is being typed: it waits for the first to end.
  output.deliver(Text<2550>("P01 DIA 2"), keyConfig(1, 0, 20));
  EXPECT_EQ(output.heldFrames(), 2u);
  while (host.fire()) {
  }
  // What the user sees: the reading whole, then the structured record (its label's blanks
  // included), one key every 20 ms from the first to the last, the second frame's too.
  std::string typed;
  int last = -20;
  for (const auto& [at, key] : keyboard.keys) {
    EXPECT_EQ(at, last + 20) << "at the key " << key;
    last = at;
    typed += key;
  }
  EXPECT_EQ(typed, "1\xC2\xB5\rP01\u2192DIA" + std::string(11, ' ') + "\u2192" "2\u2192  \r\u2190\u2190\u2190");
  EXPECT_EQ(output.heldFrames(), 0u);
}

TEST(KeystrokeOutput, SingleKeystrokesLeaveOutWhatTypesNothing) {
  const std::vector<KeyAction> plan = {{KeyAction::Kind::typeText, "a\x01\t\xC2\x85\xE2\x82\xAC\x7F\r"},
                                       {KeyAction::Kind::pressLeft, {}}};
  const std::vector<KeyAction> expected = {{KeyAction::Kind::typeText, "a"},
                                           {KeyAction::Kind::typeText, "\t"},
                                           {KeyAction::Kind::typeText, "\xE2\x82\xAC"},
                                           {KeyAction::Kind::typeText, "\r"},
                                           {KeyAction::Kind::pressLeft, {}}};
  EXPECT_EQ(singleKeystrokes(plan), expected);
}

// A keyboard that first waits for the desktop's answer: what happens to the frames that
// arrive meanwhile depends on the answer.
TEST(KeystrokeOutput, FramesHeldWhileTheKeyboardWaitsAreTypedInOrderOrDroppedWithANotice) {
  struct Case {
    const char* behaviour;
    std::function<void(RecordingKeyboard&)> answer;
    Log expected;
  } cases[] = {
      {"approved: typed in order",
       [](RecordingKeyboard& k) { k.becomeReady(); },
       {"after 0", "keyboard recording", "focus", "icon ~psend.ico", "type 1\r", "icon ~pok.ico", "focus",
        "icon ~psend.ico", "type 2\r", "icon ~pok.ico"}},
      {"refused: dropped, and the user told why",
       [](RecordingKeyboard& k) { k.giveUp("The desktop refused."); },
       {"after 0", "keyboard recording", "mention Kelvor: The desktop refused. 2 readings waiting to be typed were not typed."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    Log log;
    RecordingKeyboard keyboard(log, true);
    keyboard.waiting_ = true;
    RecordingHost host(log);
    RecordingNotices notices(&log);
    KeystrokeOutput output(keyboard, host, notices);
    output.deliver(Text<2550>("1"), keyConfig(0, 0));
    output.deliver(Text<2550>("2"), keyConfig(0, 0));
    EXPECT_TRUE(log.empty());  // nothing typed, nothing waited for: the tick goes on
    c.answer(keyboard);
    host.fire();
    EXPECT_EQ(log, c.expected);
  }
}

TEST(KeystrokeOutput, AtMost1000ReadingsWaitForAKeyboardAndTheRestAreToldOnceNotTyped) {
  Log log;
  RecordingKeyboard keyboard(log, true);
  keyboard.waiting_ = true;
  RecordingHost host(log);
  RecordingNotices notices(&log);
  KeystrokeOutput output(keyboard, host, notices);
  for (std::size_t i = 0; i < kMaxHeldFrames + 5; ++i) output.deliver(Text<2550>(std::to_string(i)), keyConfig(0, 0));
  const auto told = std::count_if(log.begin(), log.end(),
                                  [](const std::string& l) { return l.find("cannot keep up") != std::string::npos; });
  EXPECT_EQ(told, 1);
  keyboard.becomeReady();
  while (host.fire()) {
  }
  Log typed;
  for (const auto& l : log) {
    if (l.rfind("type ", 0) == 0) typed.push_back(l);
  }
  ASSERT_EQ(typed.size(), kMaxHeldFrames);
  EXPECT_EQ(typed.front(), "type 0\r");
  EXPECT_EQ(typed.back(), "type 999\r");
}

TEST(KeystrokeOutput, AKeyboardLostMidFrameDropsTheRestAndSaysSoOnce) {
  Log log;
  RecordingKeyboard keyboard(log, true);
  RecordingHost host(log);
  RecordingNotices notices(&log);
  KeystrokeOutput output(keyboard, host, notices);
  keyboard.strokesBeforeLoss_ = 2;
  output.deliver(Text<2550>("12"), keyConfig(0, 0, 5));
  output.deliver(Text<2550>("34"), keyConfig(0, 0, 5));
  while (host.fire()) {
  }
  output.deliver(Text<2550>("56"), keyConfig(0, 0, 5));
  const Log expected = {"focus", "icon ~psend.ico", "type 1", "after 5", "type 2",
                        "mention Kelvor: the compositor went away. 2 readings were not typed, the first of them only in part.",
                        "icon ~pok.ico", "after 0", "keyboard recording",
                        // Later frames are not typed, and the user is not told again.
                        "focus", "icon ~psend.ico", "icon ~pok.ico"};
  EXPECT_EQ(log, expected);
}

TEST(KeystrokeOutput, NothingIsTypedWhileAKelvorWindowHasTheFocusNotEvenLater) {
  Log log;
  RecordingKeyboard keyboard(log, true);
  RecordingHost host(log);
  RecordingNotices notices(&log);
  KeystrokeOutput output(keyboard, host, notices);
  output.deliver(Text<2550>("12"), keyConfig(0, 0, 5));
  output.deliver(Text<2550>("34"), keyConfig(0, 0, 5));
  host.ownFocus = true;  // the user clicks into the outputs window mid-frame
  while (host.fire()) {
  }
  output.deliver(Text<2550>("56"), keyConfig(0, 0, 5));
  host.ownFocus = false;
  output.deliver(Text<2550>("7"), keyConfig(0, 0));
  const std::string note = "note keystrokes: " + std::string(kTypingPausedText);
  const Log expected = {"focus", "icon ~psend.ico", "type 1", "after 5",
                        // The rest of "12" and all of "34" and "56" are never typed; said once.
                        "icon ~pok.ico", "paused", note,
                        "typing again", "focus", "icon ~psend.ico", "type 7\r", "icon ~pok.ico"};
  EXPECT_EQ(log, expected);
  EXPECT_EQ(output.heldFrames(), 0u);
}

TEST(ChosenKeyboard, TheNextCandidateTakesOverWhenOneGivesUpAndTheNoticeSaysWhatItCannotReach) {
  Log log;
  RecordingKeyboard* portal = nullptr;
  RecordingKeyboard* xtest = nullptr;
  int opened = 0;
  std::vector<KeyboardCandidate> candidates = {
      {"portal", [&] {
         ++opened;
         auto k = std::make_unique<RecordingKeyboard>(log, true, "portal");
         k->waiting_ = true;
         portal = k.get();
         return k;
       }, ""},
      {"xtest", [&] {
         auto k = std::make_unique<RecordingKeyboard>(log, true, "xtest");
         k->waiting_ = true;  // it too has its answer to wait for
         xtest = k.get();
         return k;
       }, "Readings go to X11 windows only."}};
  ChosenKeyboard keyboard(std::move(candidates));
  EXPECT_EQ(keyboard.name(), "portal");
  EXPECT_EQ(opened, 0);  // nobody is asked before typing is needed
  RecordingHost host(log);
  RecordingNotices notices(&log);
  KeystrokeOutput output(keyboard, host, notices);
  output.deliver(Text<2550>("1"), keyConfig(0, 0));
  EXPECT_EQ(opened, 1);
  portal->giveUp("The desktop refused.");
  host.fire();
  output.deliver(Text<2550>("2"), keyConfig(0, 0));
  EXPECT_EQ(keyboard.name(), "xtest");
  // The stand-in changes state in its turn: what was held is settled (not left waiting for
  // ever), told once, and typing goes on.
  xtest->becomeReady();
  host.fire();
  EXPECT_EQ(output.heldFrames(), 0u);
  output.deliver(Text<2550>("3"), keyConfig(0, 0));
  const Log expected = {"after 0", "keyboard xtest", "after 0", "keyboard xtest",
                        "mention Kelvor: The desktop refused. Readings go to X11 windows only. 2 readings waiting to be typed "
                        "were not typed.",
                        "focus", "icon ~psend.ico", "type 3\r", "icon ~pok.ico"};
  EXPECT_EQ(log, expected);
}

TEST(ChosenKeyboard, CandidatesThatAreMissingAtOnceAreSkippedAndNamedInTheProblem) {
  Log log;
  std::vector<KeyboardCandidate> candidates = {
      {"virtual keyboard", [&] {
         auto k = std::make_unique<RecordingKeyboard>(log, true, "vk");
         k->giveUp("No portal.");
         return k;
       }, ""},
      {"xtest", [&] { return std::make_unique<RecordingKeyboard>(log, true, "xtest"); }, "X11 windows only."}};
  ChosenKeyboard keyboard(std::move(candidates));
  EXPECT_TRUE(keyboard.available());
  EXPECT_EQ(keyboard.name(), "xtest");
  EXPECT_EQ(keyboard.problem(), "No portal. X11 windows only.");

  // A stand-in that cannot type either does not claim to: the user reads why nothing is typed.
  std::vector<KeyboardCandidate> none = {
      {"vk", [&] { return std::make_unique<RecordingKeyboard>(log, false, "vk"); }, ""},
      {"xtest", [&] { return std::make_unique<RecordingKeyboard>(log, false, "xtest"); }, "X11 windows only."}};
  ChosenKeyboard nothing(std::move(none));
  EXPECT_FALSE(nothing.available());
  EXPECT_EQ(nothing.problem(), "");
}

}  // namespace
}  // namespace kelvor
