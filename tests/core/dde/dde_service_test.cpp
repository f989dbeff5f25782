#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/desk/kelvor_state.h"
#include "core/dde/dde_service.h"
#include "core/line/receive_pipeline.h"
#include "core/toolkit/encoding.h"
#include "tests/core/dde/fake_transport.h"
#include "tests/core/recording_notices.h"
#include "core/toolkit/modal_gate.h"

namespace kelvor::dde {
namespace {

using Log = std::vector<std::string>;

struct RecordingLibrary : SerialLibrary {
  std::int16_t SetPortEx(int, std::uint16_t, int, int, int, int, int) override { return 0; }
  std::int16_t InitPort(int, std::int16_t, int, int, int) override { return 0; }
  void Dtr(int port, int level) override { log.push_back("Dtr " + std::to_string(port) + " " + std::to_string(level)); }
  void ComDelay(int handleOrPort, int count) override {
    log.push_back("ComDelay " + std::to_string(handleOrPort) + " " + std::to_string(count));
  }
  void ClrBuf(int port) override { log.push_back("ClrBuf " + std::to_string(port)); }
  void ResetPort(int, std::uint16_t) override {}
  void DisplayPortError(std::int16_t) override {}
  std::int16_t ComGetb(int, ZField<2550>&) override { return 0; }
  void ComPutb(int port, const char* bytes, int count) override {
    log.push_back("ComPutb " + std::to_string(port) + " " + std::string(bytes, count));
  }
  void ComPuts(int port, std::string_view text) override {
    log.push_back("ComPuts " + std::to_string(port) + " " + std::string(text));
  }
  Log log;
};

struct RecordingHost : CommandHost {
  void runFromCommand() override {
    log.push_back("run");
    if (!refuseOpening) return;
    ModalGate::Hold box(modalGate());
    log.push_back("refused box held");
  }
  void stopFromCommand() override { log.push_back("stop"); }
  void closePort() override { log.push_back("closePort"); }
  void setZOrderMode(std::uint8_t mode) override { log.push_back("zorder " + std::to_string(mode)); }
  void forceZOrder() override { log.push_back("force"); }
  void closeMainWindow() override { log.push_back("close"); }
  void refresh() override { ++refreshes; }
  void setOrangeLamp(bool shown) override { log.push_back(shown ? "orange on" : "orange off"); }
  void setDdeStatusIcon(const std::string& icon) override { log.push_back(icon); }
  void setWindowHeight(int units) override { log.push_back("height " + std::to_string(units)); }
  void setProgress(double percent) override { progress.push_back(percent); }
  bool waitPass() override {
    ++passes;
    gateHeldInWait = gateHeldInWait && !modalGate().isOpen();
    *clockMs += 10;
    return passes == keyAtPass;
  }
  void flushKeyboard() override { log.push_back("flush"); }
  void waitSeconds(double seconds) override {
    log.push_back("waitSeconds " + std::to_string(static_cast<int>(seconds)) +
                  (modalGate().isOpen() ? "" : " held"));
  }
  void showMessage(const std::string& text) override {
    log.push_back("message " + text + (modalGate().isOpen() ? "" : " held"));
  }
  void showMessageWithoutWaiting(const std::string& text) override {
    log.push_back("box " + text + (modalGate().isOpen() ? "" : " held"));
  }
  void playSoundIfEnabled(const std::string& name, std::uint8_t enable) override {
    log.push_back("sound " + name + " " + std::to_string(enable));
  }
  std::string currentDirectory() override { return directory; }

  Log log;
  std::vector<double> progress;
  int refreshes = 0;
  int passes = 0;
  int keyAtPass = -1;
  bool gateHeldInWait = true;
  bool refuseOpening = false;  // the port refuses its settings: a box waits for the user
  std::int64_t* clockMs = nullptr;
  std::string directory;
};

class DdeServiceTest : public ::testing::Test {
 protected:
  DdeServiceTest() {
    host.clockMs = &nowMs;
    state.config.ENABLESERVERDDE = 1;
    state.config.PORT = 2;
    state.reception.portWindowHandle = 1;
    service.setServer(&server);
  }

  ConversationId open() {
    server.handleInitiate(++token, ":1.5", "Kelvor", "System");
    return transport.replyTo(token)->conversation;
  }
  ReplyToken request(ConversationId c) {
    server.handleRequest(++token, ":1.5", c, "ManualData", kFormatText);
    return token;
  }
  const FakeTransport::Reply* answer(ReplyToken t) { return transport.replyTo(t); }
  // The client's acknowledgement shows in both logs, so that each shows what came before it.
  void execute(const std::string& command) {
    service.execute(command, [this] {
      host.log.push_back("ack");
      library.log.push_back("ack");
    });
  }
  void frameArrives(const std::string& frame) {
    state.reception.currentFrame = frame;
    state.reception.offerCurrentFrame();
    if (state.reception.waitState == 1) state.reception.waitState = 2;
  }

  std::int64_t nowMs = 5'000'000;
  KelvorState state;
  RecordingHost host;
  RecordingLibrary library;
  FakeTransport transport;
  RecordingNotices notices;
  DdeService service{state.serviceRecords(), host, library, notices, [this] { return nowMs; }};
  DdeServer server{"Kelvor", "System", transport, service, [this] { return nowMs; }};
  ReplyToken token = 0;
};

TEST_F(DdeServiceTest, RequestReturnsEmptyBeforeAnyFrameAndPaddedFrameAfter) {
  const ConversationId c = open();
  const ReplyToken first = request(c);
  ASSERT_NE(answer(first), nullptr);
  EXPECT_EQ(answer(first)->block, std::string(1, '\0'));
  EXPECT_EQ(host.log, (Log{"~precep.ico", "~pok.ico"}));

  frameArrives("12.5");
  const ReplyToken second = request(c);
  ASSERT_NE(answer(second), nullptr);
  EXPECT_EQ(answer(second)->block, "12.5" + std::string(123, ' ') + std::string(1, '\0'));
}

TEST_F(DdeServiceTest, WaitRsHoldsTheRequestUntilTheNextFrameInTheSameTick) {
  const ConversationId c = open();
  frameArrives("1.0");
  execute("[WAITRS]");
  const ReplyToken held = request(c);
  EXPECT_EQ(answer(held), nullptr);

  nowMs += 1000;
  service.tick([] {});  // no frame yet
  EXPECT_EQ(answer(held), nullptr);
  EXPECT_EQ(state.reception.waitState, 1);

  service.tick([&] { frameArrives("2.0"); });
  ASSERT_NE(answer(held), nullptr);
  EXPECT_EQ(answer(held)->block, textBlock("2.0" + std::string(124, ' ')));
  EXPECT_EQ(state.reception.waitState, 0);
}

TEST_F(DdeServiceTest, WaitRsAnswersWithTheHeldValueAfterMoreThanFiveSeconds) {
  const ConversationId c = open();
  frameArrives("7");
  execute("[waitrs]");
  const ReplyToken held = request(c);
  struct Step {
    std::int64_t atMs;  // after [WAITRS]
    bool answered;
  };
  const std::int64_t start = nowMs;
  for (const Step s : {Step{4990, false}, Step{5000, false}, Step{5010, true}}) {
    nowMs = start + s.atMs;
    service.tick([] {});
    EXPECT_EQ(answer(held) != nullptr, s.answered) << s.atMs;
    EXPECT_EQ(state.wait.elapsed, s.atMs / 10) << "the elapsed time the strip shows";
  }
  EXPECT_EQ(answer(held)->block, textBlock("7" + std::string(126, ' ')));
  EXPECT_EQ(state.reception.waitState, 0);
}

TEST_F(DdeServiceTest, TickAnswersADueRequestBeforeThePoll) {
  const ConversationId c = open();
  execute("[WAITRS]");
  const ReplyToken held = request(c);
  state.reception.waitState = 2;
  bool answeredBeforePoll = false;
  service.tick([&] { answeredBeforePoll = answer(held) != nullptr && state.reception.waitState == 0; });
  EXPECT_TRUE(answeredBeforePoll);
}

TEST_F(DdeServiceTest, AdviseMakesAOneSecondLinkThenShowsTheAutodataMessageWithoutHoldingTheDesk) {
  const ConversationId c = open();
  frameArrives("5");
  server.handleAdvise(++token, ":1.5", c, "AutoData", kFormatText, false);
  EXPECT_TRUE(server.hasLink("AutoData"));
  ASSERT_EQ(transport.data.size(), 1u);
  EXPECT_EQ(transport.data[0].block, textBlock("5" + std::string(126, ' ')));
  EXPECT_EQ(host.log, (Log{"~precep.ico", "~pok.ico", "box Autodata:5" + std::string(126, ' ')}));

  frameArrives("6");
  nowMs += 1001;
  server.checkLinks();
  EXPECT_EQ(transport.data.size(), 2u);
}

TEST_F(DdeServiceTest, ReadingsSendsEveryReadingOnceInOrderEvenEqualOnesAndAnswersRequestsLikeManualData) {
  const ConversationId c = open();
  server.handleAdvise(++token, ":1.5", c, "readings", kFormatText, false);
  EXPECT_TRUE(host.log.empty()) << "no Autodata: message and no link for Readings";
  for (const char* reading : {"7", "7", "8"}) {
    frameArrives(reading);
    service.readingDelivered();
  }
  nowMs += 5000;
  server.checkLinks();
  ASSERT_EQ(transport.data.size(), 3u);
  EXPECT_EQ(transport.data[0].block, textBlock("7" + std::string(126, ' ')));
  EXPECT_EQ(transport.data[1].block, transport.data[0].block);
  EXPECT_EQ(transport.data[2].block, textBlock("8" + std::string(126, ' ')));

  server.handleRequest(++token, ":1.5", c, "Readings", kFormatText);
  ASSERT_NE(answer(token), nullptr);
  EXPECT_EQ(answer(token)->block, textBlock("8" + std::string(126, ' ')));
  EXPECT_EQ(transport.data.size(), 3u) << "a request is no reading";
}

// A reading that came as UTF-8 is offered as 127 characters, never a split one, on every
// item: what a ManualData request, an AutoData link and a Readings link get.
TEST_F(DdeServiceTest, ValuesAreMadeInCharacters) {
  const std::string micro = "\xC2\xB5";
  std::string seventyMicro;
  for (int i = 0; i < 70; ++i) seventyMicro += micro;
  struct Case {
    std::string frame;
    std::string value;  // without its padding
  };
  const Case cases[] = {
      {"+012.50 \xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9", "+012.50 \xC2\xB5m 25\xC2\xB0" "C \xE2\x82\xAC\xC3\xA9"},
      {std::string(126, 'X') + micro + "m", std::string(126, 'X') + micro},
      {seventyMicro, seventyMicro},
      {"25\xB0" "C", "25\xC2\xB0" "C"},  // Windows-1252 from the line
  };
  const ConversationId c = open();
  server.handleAdvise(++token, ":1.5", c, "AutoData", kFormatText, false);
  server.handleAdvise(++token, ":1.5", c, "Readings", kFormatText, false);
  for (const auto& k : cases) {
    transport.data.clear();
    frameArrives(k.frame);
    service.readingDelivered();
    nowMs += 1100;
    server.checkLinks();
    const std::size_t characters = codePoints(k.value).size();
    const std::string expected = textBlock(k.value + std::string(characters < 127 ? 127 - characters : 0, ' '));
    const ReplyToken t = request(c);
    ASSERT_NE(answer(t), nullptr);
    EXPECT_EQ(answer(t)->block, expected) << k.frame;
    ASSERT_EQ(transport.data.size(), 2u) << k.frame;
    EXPECT_EQ(transport.data[0].item, "Readings");
    EXPECT_EQ(transport.data[0].block, expected) << k.frame;
    EXPECT_EQ(transport.data[1].item, "AutoData");
    EXPECT_EQ(transport.data[1].block, expected) << k.frame;
  }
}

TEST_F(DdeServiceTest, ExecutePlaysTheDdeSoundAndShowsTheStatusIcons) {
  struct Case {
    std::uint8_t ddeSound, soundEnable, serverEnabled;
    Log expected;
  };
  const Case cases[] = {
      {1, 1, 1, {"sound dde.wav 1", "~psend.ico", "~pok.ico"}},
      {1, 0, 1, {"sound dde.wav 0", "~psend.ico", "~pok.ico"}},
      {0, 1, 1, {"~psend.ico", "~pok.ico"}},
      {0, 1, 0, {"~psend.ico"}},
  };
  for (const auto& c : cases) {
    host.log.clear();
    state.config.ENABLEDDESOUND = c.ddeSound;
    state.config.SOUNDENABLE = c.soundEnable;
    state.config.ENABLESERVERDDE = c.serverEnabled;
    state.config.FILESOUNDDDE = "dde.wav";
    execute("[NOTHING]");
    EXPECT_EQ(host.log, c.expected);
  }
}

struct CommandCase {
  const char* command;
  std::uint8_t isRunning;
  Log host;     // without the status icons
  Log library;
  bool openingRefused = false;
};

TEST_F(DdeServiceTest, CommandsDriveTheWindowAndTheLine) {
  const CommandCase cases[] = {
      {"[RUN]", 0, {"run", "force"}, {}},
      {"[RUN]", 1, {"force"}, {}},
      {"[RUN]", 0, {"run", "ack", "refused box held", "force"}, {"ack"}, true},
      {"[STOP]", 0, {"stop", "force"}, {}},
      {"[STOP]", 1, {"stop", "force"}, {}},
      {"[APPTOP]", 0, {"zorder 1"}, {}},
      {"[APPHIDE]", 1, {"zorder 2"}, {}},
      {"[APPCLOSE]", 0, {"close", "force"}, {}},
      {"[APPCLOSE]", 1, {"closePort", "ack", "waitSeconds 2 held", "close", "force"}, {"ack"}},
      {"[OPTO?]", 0, {}, {"Dtr 2 0", "ComDelay 2 2", "Dtr 2 1"}},
      {"[SEND(abc)]", 0, {"orange on"}, {"ClrBuf 2", "ComPuts 2 ABC\r"}},
      {"[SEND()]", 1, {"orange on"}, {"ClrBuf 2", "ComPuts 2 \r"}},
      {"[SEND(€5 )]", 1, {"orange on"}, {"ClrBuf 2", "ComPuts 2 \x80" "5\r"}},
      // Several bracketed commands run in order, each as if alone; the client is answered once,
      // before the first that waits.
      {"[RUN][STOP]", 0, {"run", "force", "stop", "force"}, {}},
      {"[SEND(ab)][SEND(cd)]", 1, {"orange on", "orange on"}, {"ClrBuf 2", "ComPuts 2 AB\r", "ClrBuf 2", "ComPuts 2 CD\r"}},
      {"[CLEARBUF][RUN]", 1, {"force"}, {"ClrBuf 2"}},
      {"[SEND(ab)][MESSAGE(hi)][WAIT(0)][SEND(cd)]", 0,
       {"orange on", "ack", "message HI held", "force", "height 38", "flush", "height 26", "force", "orange on"},
       {"ClrBuf 2", "ComPuts 2 AB\r", "ack", "ClrBuf 2", "ComPuts 2 CD\r"}},
      {"[RUN] [STOP]", 0, {}, {}},
      {"[SEND_W(ab)]", 1, {}, {"ClrBuf 2", "ComPutb 2 A"}},  // the rest goes at the next ticks
      {"[MESSAGE(hello)]", 0, {"ack", "message HELLO held", "force"}, {"ack"}},
      {"[MESSAGE(grüß dich)]", 0, {"ack", "message GRüß DICH held", "force"}, {"ack"}},
      {"[CLEARBUF]", 0, {}, {}},
      {"[CLEARBUF]", 1, {}, {"ClrBuf 2"}},
  };
  for (const auto& c : cases) {
    host.log.clear();
    library.log.clear();
    state.reception.isRunning = c.isRunning;
    host.refuseOpening = c.openingRefused;
    state.config.ENABLESERVERDDE = 0;  // keeps "~pok.ico" out of the log
    execute(c.command);
    Log withoutIcons;
    for (const auto& entry : host.log) {
      if (entry != "~psend.ico") withoutIcons.push_back(entry);
    }
    EXPECT_EQ(withoutIcons, c.host) << c.command << " running " << int(c.isRunning);
    EXPECT_EQ(library.log, c.library) << c.command;
  }
}

TEST_F(DdeServiceTest, TheOrangeLampOfASentTextStaysLitLongEnoughToBeSeen) {
  execute("[SEND(x)]");
  host.log.clear();
  nowMs += kLampShownMs - 10;
  service.tickBeforePoll();
  EXPECT_TRUE(host.log.empty());
  nowMs += 10;
  service.tickBeforePoll();
  service.tickBeforePoll();
  EXPECT_EQ(host.log, (Log{"orange off"}));
}

TEST_F(DdeServiceTest, SendWPutsOneCharacterATickAndLaterSendsWaitTheirTurnWithinABound) {
  state.config.ENABLESERVERDDE = 0;
  // What the port holds is taken up as readings before each send clears it.
  service.setTakeUpReceived([this] { library.log.push_back("take up"); });
  execute("[SEND_W(ab)]");
  execute("[SEND(c)]");
  EXPECT_EQ(library.log, (Log{"take up", "ClrBuf 2", "ComPutb 2 A"}));
  for (int tick = 0; tick < 4; ++tick) service.sendStep();
  EXPECT_EQ(library.log, (Log{"take up", "ClrBuf 2", "ComPutb 2 A", "ComPutb 2 B", "ComPutb 2 \r", "take up",
                              "ClrBuf 2", "ComPuts 2 C\r"}));
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "orange on"), 2);
  EXPECT_EQ(service.charactersToSend(), 0u);

  // What waits to be sent is bounded; beyond it a send is not taken (the client gets Busy),
  // and once the line has caught up sends are taken again.
  const std::string longSend = "[SEND_W(" + std::string(100, 'x') + ")]";
  int taken = 0;
  while (taken < 100 && service.execute(longSend, {})) ++taken;
  EXPECT_EQ(taken, 4096 / 101);
  state.reception.waitState = 1;
  EXPECT_FALSE(service.execute(longSend, {}));
  EXPECT_EQ(state.reception.waitState, 1);  // a refused send has no effect
  for (int tick = 0; tick < 101 * taken; ++tick) service.sendStep();
  EXPECT_EQ(service.charactersToSend(), 0u);
  EXPECT_TRUE(service.execute("[SEND(y)]", {}));
}

TEST_F(DdeServiceTest, CommandsThatTouchTheLineCancelAWaitRs) {
  for (const char* command : {"[OPTO?]", "[SEND(x)]", "[SEND_W(x)]"}) {
    state.reception.waitState = 1;
    execute(command);
    EXPECT_EQ(state.reception.waitState, 0) << command;
  }
  state.reception.waitState = 1;
  execute("[APPTOP]");
  EXPECT_EQ(state.reception.waitState, 1);
}

TEST_F(DdeServiceTest, ClearBufEmptiesTheReceptionOnlyWhileRunning) {
  Reception& r = state.reception;
  auto fill = [&] {
    r.frameBuffer = "abc";
    r.receiveBuffer = "abc";
    r.frameBufferLength = 3;
    r.rawFrame = "raw";
    r.currentFrame = "cur";
    r.requestValue = "cur";
    r.waitState = 1;
  };
  fill();
  r.isRunning = 0;
  execute("[CLEARBUF]");
  EXPECT_EQ(r.frameBuffer, "abc");
  EXPECT_EQ(r.requestValue, "cur");
  EXPECT_EQ(r.waitState, 1);

  r.isRunning = 1;
  execute("[clearbuf]");
  EXPECT_TRUE(r.frameBuffer.empty());
  EXPECT_TRUE(r.receiveBuffer.empty());
  EXPECT_EQ(r.frameBufferLength, 0);
  EXPECT_TRUE(r.rawFrame.isBlank());
  EXPECT_TRUE(r.currentFrame.isBlank());
  EXPECT_TRUE(r.requestValue.empty());
  EXPECT_EQ(r.waitState, 0);

  // A skip still pending from a broken frame ends with the clearing: the next whole frame
  // is delivered, not swallowed as the rest of the broken one.
  state.config.SELECTENDOF = 1;
  state.config.ENDOFCHAR = 1;
  r.resync.active = true;
  execute("[CLEARBUF]");
  appendReceived(state.config, r, "7.5\r");
  ASSERT_TRUE(cutFrame(state.config, r));
  EXPECT_EQ(r.rawFrame.trimmed(), "7.5");
}

TEST_F(DdeServiceTest, RequestCommandTakes127CharactersOfTheFrameWithPadding) {
  execute("[REQUEST]");
  EXPECT_EQ(state.reception.requestValue, std::string(127, ' '));
  state.reception.currentFrame = std::string(200, 'x');
  execute("[REQUEST]");
  EXPECT_EQ(state.reception.requestValue, std::string(127, 'x'));
}

TEST_F(DdeServiceTest, WaitShowsProgressAndEndsOnTimeOrAtAKeyPress) {
  struct Case {
    const char* command;
    int keyAtPass;
    std::int64_t expectedMs;  // how long the wait took on the clock
  };
  const Case cases[] = {
      {"[WAIT(1.5)]", -1, 1500},
      {"[WAIT(2)]", 3, 30},
      {"[WAIT(0)]", -1, 0},
      {"[WAIT(-4)]", -1, 0},
      {"[WAIT(abc)]", -1, 0},
      {"[WAIT(99999999999999999999)]", 3, 30},  // far too long to count: waits for the key
  };
  for (const auto& c : cases) {
    host.log.clear();
    host.progress.clear();
    host.passes = 0;
    host.keyAtPass = c.keyAtPass;
    const std::int64_t start = nowMs;
    state.config.ENABLESERVERDDE = 0;
    execute(c.command);
    EXPECT_EQ(nowMs - start, c.expectedMs) << c.command;
    // The client is answered before a wait, or when the command returns if there is none.
    const Log waited{"~psend.ico", "height 38", "flush", "ack", "height 26", "force"};
    const Log none{"~psend.ico", "height 38", "flush", "height 26", "force"};
    EXPECT_EQ(host.log, c.expectedMs > 0 ? waited : none) << c.command;
    EXPECT_TRUE(host.gateHeldInWait);
    ASSERT_FALSE(host.progress.empty());
    EXPECT_DOUBLE_EQ(host.progress.front(), 0);
    for (std::size_t i = 1; i < host.progress.size(); ++i) EXPECT_GE(host.progress[i], host.progress[i - 1]);
    EXPECT_LT(host.progress.back(), 100.0);
  }
  EXPECT_TRUE(modalGate().isOpen());
}

TEST_F(DdeServiceTest, LoadFindsTheFileWithoutRegardToCaseAndReadsIt) {
  const auto dir = std::filesystem::temp_directory_path() / ("kelvor_dde_load_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "Line2.klv") << "[APP]\nNAME=LINE2\nENABLESERVERDDE=1\n[COMMPORT]\nPORT=3\n";
  host.directory = dir.string();
  execute("[load(line2.klv)]");
  EXPECT_EQ(std::filesystem::path(state.configFilePath), dir / "Line2.klv");
  EXPECT_EQ(state.config.NAME, "LINE2");
  EXPECT_EQ(state.config.PORT, 3);
  EXPECT_EQ(host.log.back(), "~pok.ico");
  EXPECT_NE(std::find(host.log.begin(), host.log.end(), "force"), host.log.end());

  // A name that is no file (missing, a folder) keeps the configuration and says so once.
  std::filesystem::create_directories(dir / "Folder.klv");
  for (const char* missing : {"[LOAD(NOSUCH.KLV)]", "[LOAD(FOLDER.KLV)]"}) {
    const std::size_t lines = notices.notices.size();
    execute(missing);
    EXPECT_EQ(std::filesystem::path(state.configFilePath), dir / "Line2.klv") << missing;
    EXPECT_EQ(state.config.NAME, "LINE2") << missing;
    EXPECT_EQ(state.config.PORT, 3) << missing;
    ASSERT_EQ(notices.notices.size(), lines + 1) << missing;
    EXPECT_NE(notices.notices.back().text.find("stays in force"), std::string::npos);
  }
  std::filesystem::remove_all(dir);
}

TEST_F(DdeServiceTest, WithoutAServerHandlersAndTicksStillRun) {
  service.setServer(nullptr);
  state.reception.waitState = 2;
  service.tick([] {});
  EXPECT_EQ(state.reception.waitState, 0);
  execute("[APPTOP]");
  EXPECT_EQ(host.log.back(), "~pok.ico");
}

}  // namespace
}  // namespace kelvor::dde
