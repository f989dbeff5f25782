// The desk on fakes: a reading's one way from the poll to the DDE value, the outputs, the
// keystrokes and a pending [WAITRS]; the DDE server it starts and the links its tick looks at.

#include "core/desk/desk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/desk/tick_schedule.h"
#include "core/toolkit/modal_gate.h"
#include "tests/core/dde/fake_transport.h"
#include "tests/core/line/fake_serial_library.h"
#include "tests/core/recording_notices.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

struct TypingKeyboard : KeyboardSynth {
  bool available() const override { return true; }
  std::string name() const override { return "test keyboard"; }
  void typeText(std::string_view utf8) override { typed += std::string(utf8); }
  void pressRight() override { typed += "<Right>"; }
  void pressLeft() override { typed += "<Left>"; }
  std::string typed;
};

struct QuietWatch : DeviceWatch {
  void watch(const std::string&) override {}
  bool changed() override { return false; }
  void stop() override {}
};

struct RecordingPublisher : ReadingPublisher {
  void configure(const PublisherSettings& settings) override { enabled = settings.enabled; }
  void publish(const Reading& reading, std::string_view) override { published.push_back(reading); }
  bool enabled = false;
  std::vector<Reading> published;
};

struct SameThread : UiThread {
  bool isCurrent() const override { return true; }
  void post(std::function<void()> call) override { call(); }
};

struct StripView : DeskView {
  void showRunning(bool) override {}
  void setMenuEnabled(bool) override {}
  void showPortAway(const std::string&) override {}
  void showLamps(bool, bool) override {}
  void showTexts() override { ++texts; }
  int texts = 0;
};

struct Commands : dde::CommandHost {
  void runFromCommand() override {}
  void stopFromCommand() override {}
  void closePort() override {}
  void setZOrderMode(std::uint8_t) override {}
  void forceZOrder() override {}
  void closeMainWindow() override {}
  void refresh() override {}
  void setOrangeLamp(bool) override {}
  void setDdeStatusIcon(const std::string&) override {}
  void setWindowHeight(int) override {}
  void setProgress(double) override {}
  bool waitPass() override { return true; }
  void flushKeyboard() override {}
  void waitSeconds(double) override {}
  void showMessage(const std::string& text) override { messages.push_back(text); }
  void playSoundIfEnabled(const std::string&, std::uint8_t) override {}
  std::string currentDirectory() override { return {}; }
  std::vector<std::string> messages;
};

struct Keys : KeystrokeHost {
  void focusKeyCatcher() override {}
  void setSendKeyIcon(std::string_view) override {}
  void playKeySound(std::string_view, std::uint8_t) override {}
  void callAfter(int, std::function<void()> then) override { then(); }
};

struct CountingTimer : TickTimer {
  void wake() override { ++wakes; }
  int wakes = 0;
};

struct Endpoint : dde::FakeTransport, dde::DdeEndpoint {
  void replyEmpty(dde::ReplyToken t) override { FakeTransport::replyEmpty(t); }
  void replyConversation(dde::ReplyToken t, dde::ConversationId c) override { FakeTransport::replyConversation(t, c); }
  void replyData(dde::ReplyToken t, const std::string& b) override { FakeTransport::replyData(t, b); }
  void replyError(dde::ReplyToken t, dde::DdeError e, const std::string& m) override { FakeTransport::replyError(t, e, m); }
  void sendData(const std::string& client, dde::ConversationId c, const std::string& item, std::uint32_t f,
                const std::string& b, bool ack) override {
    FakeTransport::sendData(client, c, item, f, b, ack);
  }
  bool isServiceName(std::string_view name, std::string& rule) const override {
    rule = "no blanks";
    return name.find(' ') == std::string_view::npos;
  }
  bool start(const std::string& service, dde::DdeServer& s, std::string& error) override {
    if (refuse) error = "taken";
    started = service;
    server = &s;
    return !refuse;
  }
  void close() override { server = nullptr; }
  bool refuse = false;
  std::string started;
  dde::DdeServer* server = nullptr;
};

// A desk in a folder of its own, on fakes, reception running.
class DeskRig : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("kelvor-desk-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override {
    desk.reset();
    fs::remove_all(folder);
  }
  void start(const std::string& ini = "") {
    std::ofstream(folder / "KELVOR.INI") << ini;
    desk = std::make_unique<Desk>((folder / "KELVOR.INI").string(), [this] { return now; });
    Configuration& c = desk->state().config;
    c.SELECTENDOF = 1;  // frames end at CR
    c.ENDOFCHAR = 1;
    c.ENABLESERVERDDE = 1;
    desk->connect({library, watch, keyboard, &endpoint,
                   [this](Notices&) {
                     auto p = std::make_unique<RecordingPublisher>();
                     publisher = p.get();
                     return p;
                   },
                   notices, ui, "bench", &tickTimer},
                  {view, commands, keys});
    desk->started();
    desk->state().reception.isRunning = 1;
  }
  Configuration& config() { return desk->state().config; }
  Reception& reception() { return desk->state().reception; }

  fs::path folder;
  std::chrono::steady_clock::time_point now{};
  testing::FakeSerialLibrary library;
  QuietWatch watch;
  TypingKeyboard* typing = new TypingKeyboard;
  ChosenKeyboard keyboard{{KeyboardCandidate{"test keyboard", [this] { return std::unique_ptr<KeyboardSynth>(typing); }, ""}}};
  Endpoint endpoint;
  CountingTimer tickTimer;
  RecordingPublisher* publisher = nullptr;
  RecordingNotices notices;
  SameThread ui;
  StripView view;
  Commands commands;
  Keys keys;
  std::unique_ptr<Desk> desk;
};

TEST(DeskKey, OneFolderOneKeyAndNeighbouringFoldersApart) {
  EXPECT_EQ(deskKey("/home/lab/bench"), deskKey("/home/lab/bench"));
  EXPECT_NE(deskKey("/home/lab/bench"), deskKey("/home/lab/bench2"));
  EXPECT_NE(deskKey("/home/lab/a"), deskKey("/home/lab/b"));
  EXPECT_EQ(deskKey("").size(), 16u);
}

TEST_F(DeskRig, EachReadingGoesOutOnceByOneWayFrameAndValueApart) {
  start("[MQTT]\nENABLE=1\nHOST=broker\n");
  config().ENABLECONVERTVALUE = 1;
  config().ENABLESENDKEY = 1;
  library.reads = {"  +012.50 mm\r 7 g\r"};
  desk->tick();
  desk->tick();
  ASSERT_EQ(publisher->published.size(), 2u);
  EXPECT_EQ(publisher->published[0].value, "12.5");
  EXPECT_EQ(publisher->published[0].frame, "  +012.50 mm");
  EXPECT_EQ(publisher->published[1].value, "7");
  EXPECT_EQ(typing->typed, "12.5\r7\r");
  EXPECT_EQ(reception().requestValue.str().substr(0, 3), "7  ");
  EXPECT_EQ(view.texts, 2);
}

TEST_F(DeskRig, RequestModeAndKeystrokesOffLeaveTheValueAndTheKeyboardAlone) {
  start();
  desk->startDde();
  endpoint.server->handleInitiate(1, "client", "Kelvor", "System");
  endpoint.server->handleAdvise(2, "client", 1, "Readings", dde::kFormatText, false);
  config().SENDORREQUEST = 1;
  reception().requestValue = "old";
  library.reads = {"12.5\r"};
  desk->tick();
  EXPECT_EQ(reception().requestValue.str(), "old");
  EXPECT_EQ(reception().currentFrame.trimmed(), "12.5");
  EXPECT_EQ(typing->typed, "");
  // Readings sends each reading all the same, not the value held for requests.
  ASSERT_EQ(endpoint.data.size(), 1u);
  EXPECT_EQ(endpoint.data[0].block.substr(0, 5), "12.5 ");
  config().SENDORREQUEST = 0;
  library.reads = {"13\r"};
  desk->tick();
  EXPECT_EQ(reception().requestValue.str(), "13" + std::string(125, ' '));
}

TEST_F(DeskRig, AReadingAnswersAPendingWaitAtOnceAndNothingElseDoes) {
  start();
  reception().waitState = 1;
  desk->deliver(Text<2550>("5"), Text<2550>("5"));
  EXPECT_EQ(reception().waitState, 0);  // answered with this reading, not a later one
  reception().waitState = 0;
  desk->deliver(Text<2550>("6"), Text<2550>("6"));
  EXPECT_EQ(reception().waitState, 0);
}

TEST_F(DeskRig, AfterAStallEveryReadingGoesOutInOrderAndAWaitRsGetsTheFirst) {
  start("[MQTT]\nENABLE=1\nHOST=broker\n");
  desk->startDde();
  endpoint.server->handleInitiate(1, "client", "Kelvor", "System");
  reception().waitState = 1;
  endpoint.server->handleRequest(2, "client", 1, "ManualData", dde::kFormatText);
  library.reads = {"1\r2\r3\r"};
  desk->tick();
  ASSERT_EQ(publisher->published.size(), 3u);
  EXPECT_EQ(publisher->published[2].value, "3");
  ASSERT_NE(endpoint.replyTo(2), nullptr);
  EXPECT_EQ(endpoint.replyTo(2)->block.substr(0, 2), "1 ");
}

TEST_F(DeskRig, APortWhoseOwnBufferOverflowedIsToldOnceARun) {
  start();
  auto told = [&] {
    const std::vector<std::string> texts = notices.texts();
    return std::count_if(texts.begin(), texts.end(),
                         [](const std::string& t) { return t.find("overflowed") != std::string::npos; });
  };
  library.overruns = 7;  // counted before this run
  desk->openPort();
  desk->tick();
  EXPECT_EQ(told(), 0);
  for (std::uint64_t more : {8, 9, 12}) {
    library.overruns = more;
    desk->tick();
  }
  EXPECT_EQ(told(), 1);
  desk->openPort();
  library.overruns = 13;
  desk->tick();
  EXPECT_EQ(told(), 2);
}

TEST_F(DeskRig, ServesTheNamedServiceOrSaysWhyNot) {
  start("[DDE]\nSERVICE=Bench 2\n");
  desk->startDde();
  EXPECT_EQ(endpoint.started, "Kelvor");  // a name the transport cannot carry
  EXPECT_TRUE(desk->ddeServing());
  ASSERT_FALSE(notices.texts().empty());
  EXPECT_NE(notices.texts().back().find("no blanks"), std::string::npos);

  desk->shutdown();
  EXPECT_EQ(endpoint.server, nullptr);
  desk.reset();
  endpoint.refuse = true;
  start();
  desk->startDde();
  EXPECT_FALSE(desk->ddeServing());
  EXPECT_EQ(commands.messages, (std::vector<std::string>{"taken"}));
  EXPECT_EQ(desk->ddeStatus(), "DDE server: switched on, but not serving: taken");
  // Tried again once the name is free (the user ticked the server on): it serves at once.
  endpoint.refuse = false;
  desk->startDde();
  EXPECT_TRUE(desk->ddeServing());
  EXPECT_EQ(desk->ddeStatus(), "DDE server: serving as \"Kelvor\".");
}

TEST_F(DeskRig, HotLinksAreLookedAtFromTheTickAlsoWhileAModalWindowHolds) {
  start();
  desk->startDde();
  ASSERT_NE(endpoint.server, nullptr);
  endpoint.server->handleInitiate(1, "client", "Kelvor", "System");
  endpoint.server->handleAdvise(2, "client", 1, "AutoData", dde::kFormatText, false);
  const std::size_t before = endpoint.data.size();
  library.reads = {"4.2\r"};
  desk->tick();  // the reading arrives; links are looked at only once the interval has passed
  EXPECT_EQ(endpoint.data.size(), before);
  ModalGate::Hold hold(modalGate());
  now += Desk::kLinkInterval;
  desk->tick();
  ASSERT_GT(endpoint.data.size(), before);
  EXPECT_EQ(endpoint.data.back().block.substr(0, 4), "4.2 ");
}

// The tick sleeps at rest and is woken by whatever makes something due; each duty it serves
// keeps it ticking until done.
TEST_F(DeskRig, TheTickSleepsAtRestAndEachDutyKeepsItOrWakesIt) {
  start();
  reception().isRunning = 0;
  desk->startDde();
  const auto never = TickSchedule::kNever;
  EXPECT_EQ(desk->nextTick(), never);

  // A run: every tick, from its start (which wakes the timer) to its stop.
  int wakes = tickTimer.wakes;
  desk->runControl()->start(RunControl::Trigger::RunButton);
  EXPECT_GT(tickTimer.wakes, wakes);
  EXPECT_EQ(desk->nextTick(), now);
  library.reads = {"1\r"};
  desk->tick();  // lights the lamps
  desk->runControl()->stop(RunControl::Trigger::RunButton);
  // Stopped with a lamp lit: one more tick, when it goes out, then sleep.
  EXPECT_EQ(desk->nextTick(), now + Desk::kLampShownFor);
  now += Desk::kLampShownFor;
  desk->tick();
  EXPECT_EQ(desk->nextTick(), never);

  // DDE events wake it; a [WAITRS] keeps it until answered (here: timed out after 5 s).
  endpoint.server->handleInitiate(1, "client", "Kelvor", "System");
  wakes = tickTimer.wakes;
  endpoint.server->handleExecute(2, "client", 1, "[WAITRS]");
  EXPECT_GT(tickTimer.wakes, wakes);
  EXPECT_EQ(desk->nextTick(), now);
  now += std::chrono::milliseconds(5020);
  desk->tick();
  EXPECT_EQ(reception().waitState, 0);
  EXPECT_EQ(desk->nextTick(), never);

  // Text sent one character a tick, then the orange lamp until it has been seen.
  endpoint.server->handleExecute(3, "client", 1, "[SEND_W(ab)]");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(desk->nextTick(), now);
    desk->tick();
  }
  EXPECT_EQ(std::count_if(library.calls.begin(), library.calls.end(),
                          [](const std::string& call) { return call.rfind("ComPutb", 0) == 0; }),
            3);
  EXPECT_EQ(desk->nextTick(), now);  // the lamp
  now += std::chrono::milliseconds(dde::kLampShownMs);
  desk->tick();
  EXPECT_EQ(desk->nextTick(), never);

  // A periodic link: looked at once an interval, sleeping in between.
  wakes = tickTimer.wakes;
  endpoint.server->handleAdvise(4, "client", 1, "AutoData", dde::kFormatText, false);
  EXPECT_GT(tickTimer.wakes, wakes);
  EXPECT_GT(desk->nextTick(), now);
  EXPECT_LE(desk->nextTick(), now + Desk::kLinkInterval);
  now += Desk::kLinkInterval;
  desk->tick();
  EXPECT_EQ(desk->nextTick(), now + Desk::kLinkInterval);

  // What the modal gate held back is taken up by a tick once it opens.
  wakes = tickTimer.wakes;
  { ModalGate::Hold hold(modalGate()); }
  EXPECT_EQ(tickTimer.wakes, wakes + 1);
}

// The face's schedule: a 20 ms grid while every tick is wanted, late ticks dropped rather
// than replayed, a later wish taken as it stands, sleep on none, a wake within one interval.
TEST(TickSchedule, KeepsTheGridSleepsAndWakes) {
  using std::chrono::milliseconds;
  const TickSchedule::TimePoint t0{};
  TickSchedule s;
  EXPECT_TRUE(s.asleep());
  EXPECT_EQ(s.waitMilliseconds(t0), -1);
  s.start(t0);
  EXPECT_FALSE(s.due(t0 + milliseconds(19)));
  EXPECT_TRUE(s.due(t0 + milliseconds(20)));
  s.ticked(t0 + milliseconds(23), t0 + milliseconds(23));  // served 3 ms late: the grid holds
  EXPECT_EQ(s.next(), t0 + milliseconds(40));
  EXPECT_EQ(s.waitMilliseconds(t0 + std::chrono::microseconds(39500)), 1);  // rounded up
  s.ticked(t0 + milliseconds(95), t0);  // a long tick: the missed ones are dropped
  EXPECT_EQ(s.next(), t0 + milliseconds(115));
  s.ticked(t0 + milliseconds(115), t0 + milliseconds(1000));  // the next link look
  EXPECT_EQ(s.next(), t0 + milliseconds(1000));
  s.wake(t0 + milliseconds(500));
  EXPECT_EQ(s.next(), t0 + milliseconds(520));
  s.wake(t0 + milliseconds(510));  // never later than already due
  EXPECT_EQ(s.next(), t0 + milliseconds(520));
  s.ticked(t0 + milliseconds(520), TickSchedule::kNever);
  EXPECT_TRUE(s.asleep());
  EXPECT_FALSE(s.due(t0 + std::chrono::hours(24)));
  s.wake(t0 + milliseconds(2000));
  EXPECT_EQ(s.next(), t0 + milliseconds(2020));
  EXPECT_EQ(s.waitMilliseconds(t0 + milliseconds(2030)), 0);
}

}  // namespace
}  // namespace kelvor
