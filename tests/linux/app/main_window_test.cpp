// The main window's run control, z-order bookkeeping and tick gate, driven offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <vector>

#include "linux/qt/main_window.h"
#include "tests/core/recording_notices.h"
#include "core/toolkit/modal_gate.h"
#include "linux/qt/pictures.h"
#include "linux/qt/outputs_window.h"
#include "linux/qt/strip_hosts.h"
#include "tests/core/line/fake_serial_library.h"

namespace kelvor {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    state_.language.languageFilePath = "/nonexistent/english.lan";
    state_.iniFilePath = "/nonexistent/KELVOR.INI";
    run_.openPort = [this] { calls_.push_back("open"); };
    run_.closePort = [this] { calls_.push_back("close"); };
    window_.setRunControl(&run_);
    window_.hooks.tick = [this] { calls_.push_back("tick"); };
    window_.rebuildMainTexts();
  }
  template <typename Widget = QWidget>
  Widget* control(int number) {
    return window_.findChild<Widget*>(QStringLiteral("control%1").arg(number));
  }
  KelvorState state_;
  RecordingNotices notices_;
  MainWindow window_{state_, notices_};
  RunControl run_{state_.reception, window_.deskView()};
  std::vector<std::string> calls_;
};

TEST_F(MainWindowTest, RunButtonStartsAndStopsReceptionAndLocksTheMenu) {
  state_.reception.frameBuffer = "old";
  state_.reception.frameBufferLength = 3;
  state_.reception.currentFrame = "12.5";
  QPushButton* run = control<QPushButton>(12);
  ASSERT_NE(run, nullptr);
  QTest::mouseClick(run, Qt::LeftButton);
  EXPECT_EQ(state_.reception.isRunning, 1);
  EXPECT_FALSE(window_.menuButtonEnabled());
  EXPECT_EQ(state_.reception.frameBufferLength, 0);
  EXPECT_TRUE(state_.reception.frameBuffer.empty());
  EXPECT_TRUE(state_.reception.currentFrame.isBlank());
  EXPECT_EQ(run->toolTip(), "[RUNOFF]");
  EXPECT_EQ(window_.lastAppliedZOrderMode(), 99);

  QTest::mouseClick(run, Qt::LeftButton);
  EXPECT_EQ(state_.reception.isRunning, 0);
  EXPECT_TRUE(window_.menuButtonEnabled());
  EXPECT_EQ(run->toolTip(), "[RUNON]");
  EXPECT_EQ(calls_, (std::vector<std::string>{"open", "close"}));
}

// Characters, not bytes: a frame in UTF-8 is never garbled by a cut inside a character.
TEST_F(MainWindowTest, TheStripShowsTheFirstTwentyCharactersOfTheFrame) {
  state_.reception.currentFrame = "+012.50 \xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9 and more";
  window_.showTexts();
  ASSERT_NE(control<QLabel>(13), nullptr);
  EXPECT_EQ(control<QLabel>(13)->text(), QString::fromUtf8("+012.50 \xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9 a"));
}

TEST_F(MainWindowTest, CommandRunLeavesTheMenuUsableAndStopLeavesItAsItWas) {
  state_.reception.waitState = 1;
  window_.runFromCommand();
  EXPECT_EQ(state_.reception.isRunning, 1);
  EXPECT_EQ(state_.reception.waitState, 0);
  EXPECT_TRUE(window_.menuButtonEnabled());
  window_.runFromCommand();  // already running: nothing
  EXPECT_EQ(calls_, (std::vector<std::string>{"open"}));

  // Started with the button, stopped by [STOP]: the menu button stays disabled.
  window_.stopFromCommand();
  QTest::mouseClick(control<QPushButton>(12), Qt::LeftButton);
  window_.stopFromCommand();
  EXPECT_EQ(state_.reception.isRunning, 0);
  EXPECT_FALSE(window_.menuButtonEnabled());
  window_.stopFromCommand();  // also when already stopped, the port is closed again
  EXPECT_EQ(calls_, (std::vector<std::string>{"open", "close", "open", "close", "close"}));
}

TEST_F(MainWindowTest, TickAppliesTheZOrderThenRunsTheDesksTickAndLeavesTheStripAloneWhileTheGateIsHeld) {
  state_.zOrderMode = 1;
  window_.tick();
  EXPECT_EQ(calls_, (std::vector<std::string>{"tick"}));
  EXPECT_EQ(window_.lastAppliedZOrderMode(), 1);
  {
    // The desk's tick runs on (its link timer does not wait); the strip does.
    ModalGate::Hold hold(modalGate());
    state_.zOrderMode = 2;
    window_.tick();
  }
  EXPECT_EQ(calls_, (std::vector<std::string>{"tick", "tick"}));
  EXPECT_EQ(window_.lastAppliedZOrderMode(), 1);
}

TEST_F(MainWindowTest, ZOrderModeRebuildsTheMenuAndReachesTheWindowAtTheNextTick) {
  state_.zOrderMode = 1;
  window_.tick();
  window_.toggleTop();
  EXPECT_EQ(state_.zOrderMode, 2);
  EXPECT_EQ(window_.menuText().substr(0, 7), "-[TOP]|");
  EXPECT_EQ(window_.lastAppliedZOrderMode(), 1);  // not yet applied
  window_.tick();
  EXPECT_EQ(window_.lastAppliedZOrderMode(), 2);
  window_.toggleTop();
  EXPECT_EQ(window_.menuText().substr(0, 7), "+[TOP]|");
  // rebuildMainTexts always builds Top checked, whatever the mode.
  window_.setZOrderMode(2);
  window_.rebuildMainTexts();
  EXPECT_EQ(window_.menuText().substr(0, 7), "+[TOP]|");
}

TEST_F(MainWindowTest, StatusIconsFollowTheSettingsAndHideTheLamps) {
  window_.setLamp(MainWindow::Lamp::Green, true);
  window_.setLamp(MainWindow::Lamp::Orange, true);
  window_.refreshStatusIcons();
  for (int lamp : {7, 8, 9}) EXPECT_TRUE(control(lamp)->isHidden()) << lamp;
  const QImage ok = builtInPicture("~pok.ico").toImage();
  const QImage cancel = builtInPicture("~pcancel.ico").toImage();
  EXPECT_EQ(control<QLabel>(2)->pixmap().toImage(), cancel);
  state_.config.ENABLESENDKEY = 1;
  state_.config.ENABLESERVERDDE = 1;
  window_.refreshStatusIcons();
  EXPECT_EQ(control<QLabel>(2)->pixmap().toImage(), ok);
  EXPECT_EQ(control<QLabel>(3)->pixmap().toImage(), ok);
  // Switched on but not serving (another program has the name): the icon says off, and why.
  window_.hooks.ddeServing = [] { return false; };
  window_.hooks.ddeStatus = [] { return std::string("DDE server: switched on, but not serving: taken"); };
  window_.refreshStatusIcons();
  EXPECT_EQ(control<QLabel>(3)->pixmap().toImage(), cancel);
  EXPECT_EQ(control<QLabel>(3)->toolTip(), "DDE server: switched on, but not serving: taken");
}

// The strip as the desk drives it, on a clock of the test's: what its painting shows.
TEST(StripLamps, TheLampsStayPaintedLongEnoughToBeSeenAndThenGoOut) {
  struct NoWatch : DeviceWatch {
    void watch(const std::string&) override {}
    bool changed() override { return false; }
    void stop() override {}
  };
  struct NoPublisher : ReadingPublisher {
    void configure(const PublisherSettings&) override {}
    void publish(const Reading&, std::string_view) override {}
  };
  struct SameThread : UiThread {
    bool isCurrent() const override { return true; }
    void post(std::function<void()> call) override { call(); }
  };
  const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) / "kelvor-strip-lamps";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "KELVOR.INI") << "";
  std::chrono::steady_clock::time_point now{};
  Desk desk((folder / "KELVOR.INI").string(), [&now] { return now; });
  desk.state().config.SELECTENDOF = 1;
  desk.state().config.ENDOFCHAR = 1;
  RecordingNotices notices;
  MainWindow window(desk.state(), notices);
  testing::FakeSerialLibrary library;
  NoWatch watch;
  ChosenKeyboard keyboard{std::vector<KeyboardCandidate>{}};
  SameThread ui;
  StripKeystrokeHost keys(window);
  StripCommandHost commands(desk.state(), window);
  desk.connect({library, watch, keyboard, nullptr, [](Notices&) { return std::make_unique<NoPublisher>(); }, notices,
                ui, "bench"},
               {window.deskView(), commands, keys});
  desk.started();
  desk.state().reception.isRunning = 1;

  auto painted = [&window](int control, std::string_view picture) {
    const QWidget* lamp = window.findChild<QWidget*>(QStringLiteral("control%1").arg(control));
    const QImage shot = window.grab(lamp->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    return shot == builtInPicture(picture).toImage().convertToFormat(QImage::Format_RGB32);
  };
  library.reads = {"12.5\r"};
  desk.tick();
  now += std::chrono::milliseconds(120);
  desk.tick();  // nothing received since
  EXPECT_TRUE(painted(8, "~led_r.jpg")) << "the red lamp of a reading 120 ms ago is not on the strip";
  EXPECT_TRUE(painted(7, "~led_v.jpg"));
  now += std::chrono::milliseconds(60);
  desk.tick();
  EXPECT_FALSE(painted(8, "~led_r.jpg")) << "the red lamp stays lit without bytes";
  desk.state().reception.isRunning = 0;
  now += std::chrono::milliseconds(200);
  desk.tick();
  EXPECT_FALSE(painted(7, "~led_v.jpg")) << "the green lamp stays lit after reception stopped";
  desk.shutdown();
  std::filesystem::remove_all(folder);
}

TEST(OutputsWindowState, ShowsTheBrokerAndTheQueueAndKeepsThemUpToDate) {
  std::string state = "Not connected to the broker; 3 readings wait in the queue.";
  Language language;
  language.languageFilePath = "/nonexistent/english.lan";
  OutputsWindow window(OutputSettings{}, language, OutputDefaults{});
  window.showState([&state] { return state; });
  const QLabel* shown = window.findChild<QLabel*>(QStringLiteral("mqttState"));
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->text().toStdString(), state);
  state = "Connected to the broker; 0 readings wait in the queue.";
  for (int i = 0; i < 100 && shown->text().toStdString() != state; ++i) QTest::qWait(20);
  EXPECT_EQ(shown->text().toStdString(), state);
}

}  // namespace
}  // namespace kelvor
