#include "linux/qt/test_window.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include "linux/qt/lamp.h"
#include "core/desk/kelvor_state.h"
#include "fake_serial.h"
#include "modal_helpers.h"
#include "core/line/port_control.h"
#include "tests/core/recording_notices.h"
#include "core/toolkit/modal_gate.h"
#include "core/toolkit/sound.h"

namespace kelvor {
namespace {

using testing::closeNextModal;
using testing::ScriptedSerial;

constexpr std::uint16_t kMainHandle = 0x2468;

class TestWindowTest : public ::testing::Test {
 protected:
  TestWindowTest() {
    state.reception.portWindowHandle = kMainHandle;
    state.config.SELECTENDOF = 1;
    state.config.ENDOFCHAR = 1;
  }

  QString shown() const { return window.resultField()->text(); }

  KelvorState state;
  ScriptedSerial serial;
  RecordingNotices notices;
  TestWindow window{state.portContext(serial, notices)};
};

TEST_F(TestWindowTest, TwoFramesInOneReadAreShownOnTwoPolls) {
  window.openWindow();
  serial.queue("12.5\r7.1\r");
  window.poll();
  EXPECT_EQ(shown(), "12.5");
  window.poll();
  EXPECT_EQ(shown(), "7.1");
  window.poll();  // nothing more: the last frame stays
  EXPECT_EQ(shown(), "7.1");
}

TEST_F(TestWindowTest, FramesAreFilteredAndConvertedLikeReception) {
  struct Case {
    const char* name;
    void (*configure)(Configuration&);
    std::string data;
    QString expected;
  };
  const Case cases[] = {
      {"conversion", [](Configuration& c) { c.ENABLECONVERTVALUE = 1; }, "  +012.50 mm\r", "12.5"},
      {"filter start 3 length 4",
       [](Configuration& c) {
         c.LENFILTERENABLE = 1;
         c.LENFILTERSTART = 3;
         c.LENFILTEREND = 4;
       },
       "ABCDEFGH\r", "CDEF"},
      {"byte count",
       [](Configuration& c) {
         c.SELECTENDOF = 2;
         c.NUMBEROFBYTE = 3;
       },
       "abcdef", "abc"},
      {"end string",
       [](Configuration& c) {
         c.SELECTENDOF = 3;
         c.ENDOFSTRING = "END  ";
       },
       "9.81END", "9.81"},
      {"CR LF", [](Configuration& c) { c.ENDOFCHAR = 2; }, "12.5\r\n3", "12.5"},
  };
  for (const Case& c : cases) {
    KelvorState state;
    state.config.SELECTENDOF = 1;
    state.config.ENDOFCHAR = 1;
    c.configure(state.config);
    ScriptedSerial serial;
    RecordingNotices notices;
    TestWindow window(state.portContext(serial, notices));
    window.openWindow();
    serial.queue(c.data);
    window.poll();
    EXPECT_EQ(window.resultField()->text(), c.expected) << c.name;
    window.reject();
  }
}

TEST_F(TestWindowTest, ClearOptionDropsWhatFollowsTheFrame) {
  state.config.ENABLECLEAR = 1;
  window.openWindow();
  serial.queue("1\r2\r");
  window.poll();
  window.poll();
  EXPECT_EQ(shown(), "1");
  EXPECT_EQ(state.reception.frameBufferLength, 0);
}

// An empty field explains itself: the line under it says what the framing waits for, and
// goes once a frame has been cut.
TEST_F(TestWindowTest, UntilTheFirstFrameALineSaysWhichEndIsAwaited) {
  state.config.ENDOFCHAR = 2;
  window.openWindow();
  EXPECT_EQ(window.hintLine()->text(), "");
  serial.queue("12.5\r12.6\r");
  window.poll();
  EXPECT_EQ(shown(), "");
  EXPECT_TRUE(window.hintLine()->text().startsWith("No frame end seen yet in 10 bytes: the configuration expects CR LF."))
      << window.hintLine()->text().toStdString();
  EXPECT_TRUE(window.hintLine()->text().contains("CR alone"));
  serial.queue("\n");
  window.poll();
  EXPECT_EQ(shown(), "12.5<CR>12.6");
  EXPECT_EQ(window.hintLine()->text(), "");
  serial.queue("7");
  window.poll();
  EXPECT_EQ(window.hintLine()->text(), "");
}

TEST_F(TestWindowTest, WithoutAFramingModeTheFieldNeverChangesButTheLampsFlash) {
  state.config.SELECTENDOF = 0;
  window.openWindow();
  serial.queue("12.5\r");
  window.poll();
  EXPECT_EQ(shown(), "");
  EXPECT_TRUE(window.redLamp()->isLit());
}

class RecordingSound : public SoundOutput {
 public:
  explicit RecordingSound(int& plays) : plays_(plays) {}
  void play(const std::string&) override { ++plays_; }

 private:
  int& plays_;
};

TEST_F(TestWindowTest, DeliversNothing) {
  int plays = 0;
  setSoundOutput(std::make_unique<RecordingSound>(plays));
  state.config.ENABLESENDKEY = 1;
  state.config.SENDORREQUEST = 0;
  state.config.SOUNDENABLE = 1;
  state.config.ENABLEKEYSOUND = 1;
  state.reception.requestValue = "before";
  state.reception.waitState = 1;

  window.openWindow();
  serial.queue("12.5\r7.1\r");
  window.poll();
  window.poll();
  EXPECT_EQ(shown(), "7.1");
  EXPECT_EQ(state.reception.requestValue, "before");  // no DDE value, so no advise data
  EXPECT_EQ(state.reception.waitState, 1);            // a pending [WAITRS] is not answered
  EXPECT_EQ(plays, 0);
  setSoundOutput(nullptr);
}

TEST_F(TestWindowTest, OpeningEmptiesTheBuffersButNotTheRawFrame) {
  state.reception.frameBuffer = "left over";
  state.reception.frameBufferLength = 9;
  state.reception.receiveBuffer = "old";
  state.reception.currentFrame = "old frame";
  state.reception.rawFrame = "raw";
  window.openWindow();
  EXPECT_TRUE(state.reception.frameBuffer.empty());
  EXPECT_EQ(state.reception.frameBufferLength, 0);
  EXPECT_TRUE(state.reception.currentFrame.isBlank());
  EXPECT_EQ(state.reception.rawFrame, "raw");
  EXPECT_EQ(shown(), "");
}

TEST_F(TestWindowTest, ClosingGivesTheMainHandleBackAndKeepsTheLastFrame) {
  window.openWindow();
  const std::uint16_t own = portHandleOf(window);
  EXPECT_EQ(state.reception.portWindowHandle, own);
  serial.queue("42\r");
  window.poll();
  window.reject();
  EXPECT_EQ(serial.resetHandles, std::vector<std::uint16_t>{own});
  EXPECT_EQ(state.reception.portWindowHandle, kMainHandle);
  EXPECT_EQ(state.reception.currentFrame, "42");
}

TEST_F(TestWindowTest, CaptionComesFromTheTestSection) {
  window.openWindow();
  EXPECT_EQ(window.windowTitle(), "[SCREEN]");  // no language file: the bracketed key
  EXPECT_EQ(state.language.languageSection, "test");
}

TEST(OpenTestWindow, WhileReceptionRunsRefusesAndTheReceptionStateIsUntouched) {
  ScriptedSerial serial;
  RecordingNotices notices;
  KelvorState state;
  state.reception.isRunning = 1;
  state.reception.frameBuffer = "12";
  state.reception.frameBufferLength = 2;

  openTestWindow(state.portContext(serial, notices), nullptr);
  EXPECT_EQ(notices.notices.size(), 1u);
  EXPECT_TRUE(serial.calls.empty());
  EXPECT_EQ(state.reception.frameBuffer, "12");
  EXPECT_EQ(state.reception.frameBufferLength, 2);
}

TEST(OpenTestWindow, HoldsTheMainWindowsEventsUntilItCloses) {
  ScriptedSerial serial;
  RecordingNotices notices;
  KelvorState state;
  int mainEvents = 0;
  bool ranWhileOpen = false;
  closeNextModal([&] {
    // A DDE event or tick arriving while the window is open waits for it.
    modalGate().post([&] { ++mainEvents; });
    ranWhileOpen = mainEvents != 0;
  });
  openTestWindow(state.portContext(serial, notices), nullptr);
  EXPECT_FALSE(ranWhileOpen);
  QApplication::processEvents();
  EXPECT_EQ(mainEvents, 1);
}

}  // namespace
}  // namespace kelvor
