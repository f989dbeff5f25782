#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/dde/dde_server.h"
#include "tests/core/dde/fake_transport.h"

namespace kelvor::dde {
namespace {

using Kind = FakeTransport::Reply::Kind;

struct RecordingEvents : DdeEvents {
  void requestPending() override {
    log.push_back("request");
    if (onRequest) onRequest();
  }
  void adviseWithoutLink(const std::string&) override {
    log.push_back("advise");
    if (onAdvise) onAdvise();
  }
  bool execute(const std::string& command, const std::function<void()>& acknowledge) override {
    log.push_back("execute " + command);
    if (onExecute) onExecute(acknowledge);
    return taken;
  }
  void readingsDropped(const std::string& client, const std::string& item) override {
    dropped.push_back(client + " " + item);
  }
  bool taken = true;
  std::vector<std::string> log;
  std::vector<std::string> dropped;
  std::function<void(const std::function<void()>&)> onExecute;
  std::function<void()> onRequest;
  std::function<void()> onAdvise;
};

class DdeServerTest : public ::testing::Test {
 protected:
  // Opens a conversation for `client` and returns its id.
  ConversationId open(const std::string& client) {
    const ReplyToken t = next();
    server.handleInitiate(t, client, "Kelvor", "System");
    const auto* r = transport.replyTo(t);
    EXPECT_TRUE(r && r->kind == Kind::Conversation);
    return r ? r->conversation : 0;
  }
  ReplyToken request(const std::string& client, ConversationId c, const std::string& item,
                     std::uint32_t format = kFormatText) {
    const ReplyToken t = next();
    server.handleRequest(t, client, c, item, format);
    return t;
  }
  ReplyToken advise(const std::string& client, ConversationId c, const std::string& item, bool warm = false,
                    std::uint32_t format = kFormatText) {
    const ReplyToken t = next();
    server.handleAdvise(t, client, c, item, format, warm);
    return t;
  }
  const FakeTransport::Reply* reply(ReplyToken t) { return transport.replyTo(t); }
  bool answeredWith(ReplyToken t, const std::string& text) {
    const auto* r = reply(t);
    return r && r->kind == Kind::Data && r->block == textBlock(text);
  }
  bool failedWith(ReplyToken t, DdeError error) {
    const auto* r = reply(t);
    return r && r->kind == Kind::Error && r->error == error;
  }
  BoundValue bound() {
    return [this] { return value; };
  }
  ReplyToken next() { return ++token; }

  std::int64_t nowMs = 100000;
  std::string value = "12.5";
  FakeTransport transport;
  RecordingEvents events;
  DdeServer server{"Kelvor", "System", transport, events, [this] { return nowMs; }};
  ReplyToken token = 0;
};

struct InitiateCase {
  const char* application;
  const char* topic;
  bool connects;
};

TEST_F(DdeServerTest, InitiateAcceptsNullOrMatchingNamesWithoutRegardToCase) {
  const InitiateCase cases[] = {
      {"", "", true},           {"Kelvor", "System", true}, {"KELVOR", "system", true},
      {"kelvor", "", true},     {"", "SYSTEM", true},       {"Kelvo", "System", false},
      {"Kelvor", "Sys", false}, {"Excel", "System", false}, {"Kelvor ", "System", false},
  };
  for (const auto& c : cases) {
    const ReplyToken t = next();
    server.handleInitiate(t, ":1.5", c.application, c.topic);
    const auto* r = reply(t);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->kind == Kind::Conversation, c.connects) << c.application << "/" << c.topic;
    if (!c.connects) {
      EXPECT_EQ(r->error, DdeError::NoAnswer);
    }
  }
  server.handleInitiate(next(), ":1.5", std::string(256, 'K'), "System");
  EXPECT_TRUE(failedWith(token, DdeError::NoAnswer));
}

TEST_F(DdeServerTest, EachInitiateOpensItsOwnConversation) {
  const ConversationId a = open(":1.5");
  const ConversationId b = open(":1.5");
  EXPECT_NE(a, b);
  EXPECT_EQ(server.conversationCount(), 2u);
}

TEST_F(DdeServerTest, RequestFormatsOtherThanTextOrZeroAreRefused) {
  const ConversationId c = open(":1.5");
  const std::pair<std::uint32_t, bool> cases[] = {{1, true}, {0, true}, {2, false}, {13, false}, {0xFFFF, false}};
  for (const auto& [format, kept] : cases) {
    events.log.clear();
    const ReplyToken t = request(":1.5", c, "ManualData", format);
    if (kept) {
      EXPECT_EQ(reply(t), nullptr) << format;  // pending: no answer yet
      EXPECT_EQ(events.log, std::vector<std::string>{"request"});
    } else {
      EXPECT_TRUE(failedWith(t, DdeError::Negative)) << format;
      EXPECT_TRUE(events.log.empty());
    }
  }
  EXPECT_TRUE(failedWith(advise(":1.5", c, "AutoData", false, 0), DdeError::Negative));
  EXPECT_TRUE(failedWith(advise(":1.5", c, "AutoData", false, 0xFFFF), DdeError::Negative));
}

TEST_F(DdeServerTest, ConversationsOfOtherClientsAndUnknownIdsAreRefused) {
  const ConversationId mine = open(":1.5");
  const ConversationId theirs = open(":1.6");
  for (ConversationId c : {theirs, ConversationId(9999), ConversationId(0)}) {
    EXPECT_TRUE(failedWith(request(":1.5", c, "ManualData"), DdeError::UnknownConversation));
    EXPECT_TRUE(failedWith(advise(":1.5", c, "AutoData"), DdeError::UnknownConversation));
    server.handleUnadvise(next(), ":1.5", c, "", kFormatText);
    EXPECT_TRUE(failedWith(token, DdeError::UnknownConversation));
    server.handleExecute(next(), ":1.5", c, "[RUN]");
    EXPECT_TRUE(failedWith(token, DdeError::UnknownConversation));
    server.handlePoke(next(), ":1.5", c);
    EXPECT_TRUE(failedWith(token, DdeError::UnknownConversation));
    server.handleTerminate(next(), ":1.5", c);
    EXPECT_TRUE(failedWith(token, DdeError::UnknownConversation));
  }
  EXPECT_TRUE(events.log.empty());
  EXPECT_EQ(server.conversationCount(), 2u);
  server.handlePoke(next(), ":1.5", mine);
  EXPECT_EQ(reply(token)->kind, Kind::Empty);
}

// A one-shot answer goes to every pending request for the item, oldest first, whatever
// conversation holds it; advise entries get a copy and never take it.
TEST_F(DdeServerTest, OnceWriteAnswersEveryPendingRequestOldestFirstAndCopiesToAdvises) {
  const ConversationId a = open(":1.5");
  const ConversationId b = open(":1.6");
  const ConversationId c = open(":1.7");
  const ReplyToken b1 = request(":1.6", b, "ManualData");
  const ReplyToken a1 = request(":1.5", a, "ManualData");
  advise(":1.7", c, "ManualData");                  // a newer client's hot link
  advise(":1.7", c, "manualdata", /*warm=*/true);
  const ReplyToken b2 = request(":1.6", b, "manualdata");
  const ReplyToken c1 = request(":1.7", c, "Other");  // another item
  transport.replies.clear();

  server.write(-1, "ManualData", bound());
  std::vector<ReplyToken> answered;
  for (const auto& r : transport.replies) {
    if (r.kind == Kind::Data && r.block == textBlock("12.5")) answered.push_back(r.token);
  }
  EXPECT_EQ(answered, (std::vector<ReplyToken>{b1, a1, b2}));
  EXPECT_EQ(reply(c1), nullptr);
  ASSERT_EQ(transport.data.size(), 2u);
  EXPECT_EQ(transport.data[0].block, textBlock("12.5"));  // the hot link's copy
  EXPECT_EQ(transport.data[0].client, ":1.7");
  EXPECT_EQ(transport.data[0].conversation, c);
  EXPECT_EQ(transport.data[0].item, "ManualData");
  EXPECT_EQ(transport.data[0].format, kFormatText);
  EXPECT_EQ(transport.data[1].block, "");                 // the warm one is told
  EXPECT_EQ(server.entryCount(b), 0u);
  EXPECT_EQ(server.entryCount(c), 3u);  // advises stay
  EXPECT_FALSE(server.hasLink("ManualData"));

  transport.data.clear();
  transport.replies.clear();
  value = "7";
  server.write(-1, "MANUALDATA", bound());  // no request left: the links still get their copy
  EXPECT_TRUE(transport.replies.empty());
  EXPECT_EQ(transport.data.size(), 2u);
}

// A new entry on a linked item got the current value at once: a look soon after does not
// send it again, and neither does a new link that starts with the value an entry has.
TEST_F(DdeServerTest, AnEntryIsNotSentTheValueItAlreadyHas) {
  const ConversationId a = open(":1.5");
  const ConversationId b = open(":1.6");
  advise(":1.5", a, "AutoData");
  server.write(1, "AutoData", bound());
  value = "13";
  nowMs += 1001;
  transport.data.clear();
  advise(":1.6", b, "AutoData");  // gets 13 at once
  ASSERT_EQ(transport.data.size(), 1u);
  nowMs += 50;
  server.checkLinks();  // 13 is new to the link: only the older entry needs it
  ASSERT_EQ(transport.data.size(), 2u);
  EXPECT_EQ(transport.data[1].client, ":1.5");
  EXPECT_EQ(transport.data[1].block, textBlock("13"));
  server.write(1, "AutoData", bound());  // a new link with the same value
  EXPECT_EQ(transport.data.size(), 2u);
}

// A hot link that asks for acknowledgements gets its next Data message only after the
// client acknowledged the one before; meanwhile AutoData keeps the newest value, Readings
// every one up to its bound (the oldest go beyond it, said once).
TEST_F(DdeServerTest, AcknowledgedLinksWaitForTheClient) {
  const ConversationId a = open(":1.5");
  const ConversationId b = open(":1.6");
  server.handleAdvise(next(), ":1.5", a, "AutoData", kFormatText, false, /*ackRequired=*/true);
  server.handleAdvise(next(), ":1.5", a, "Readings", kFormatText, false, true);
  server.handleAdvise(next(), ":1.5", a, "Warm", kFormatText, /*deferUpdate=*/true, true);
  advise(":1.6", b, "AutoData");  // a link that asks for nothing is not held back
  auto sentTo = [&](const std::string& client, const std::string& item) {
    std::vector<std::string> blocks;
    for (const auto& d : transport.data) {
      if (d.client == client && d.item == item) blocks.push_back(d.block);
    }
    return blocks;
  };

  value = "1";
  server.write(1, "AutoData", bound());
  ASSERT_EQ(sentTo(":1.5", "AutoData"), std::vector<std::string>{textBlock("1")});
  EXPECT_TRUE(transport.data.front().ackRequested);
  for (const char* v : {"2", "3"}) {
    value = v;
    nowMs += 1001;
    server.checkLinks();
  }
  EXPECT_EQ(sentTo(":1.5", "AutoData").size(), 1u);
  EXPECT_EQ(sentTo(":1.6", "AutoData").size(), 3u);
  server.handleDataAck(":1.6", a, "AutoData");  // another client cannot acknowledge for it
  server.handleDataAck(":1.5", a, "autodata");
  EXPECT_EQ(sentTo(":1.5", "AutoData"), (std::vector<std::string>{textBlock("1"), textBlock("3")}));
  server.handleDataAck(":1.5", a, "AutoData");
  server.handleDataAck(":1.5", a, "AutoData");  // nothing outstanding: nothing happens
  EXPECT_EQ(sentTo(":1.5", "AutoData").size(), 2u);

  for (std::size_t n = 0; n < kMaxHeldReadings + 3; ++n) server.send("Readings", std::to_string(n));
  EXPECT_EQ(sentTo(":1.5", "Readings"), std::vector<std::string>{textBlock("0")});
  EXPECT_EQ(events.dropped, (std::vector<std::string>{":1.5 Readings"}));
  for (std::size_t n = 0; n < kMaxHeldReadings; ++n) server.handleDataAck(":1.5", a, "Readings");
  const auto readings = sentTo(":1.5", "Readings");
  ASSERT_EQ(readings.size(), kMaxHeldReadings + 1);
  EXPECT_EQ(readings[1], textBlock("3"));  // the oldest held went
  EXPECT_EQ(readings.back(), textBlock(std::to_string(kMaxHeldReadings + 2)));
  server.send("Readings", "again");
  EXPECT_EQ(sentTo(":1.5", "Readings").size(), kMaxHeldReadings + 1);  // the last one is unacknowledged

  server.send("Warm", "x");
  server.send("Warm", "y");
  EXPECT_EQ(sentTo(":1.5", "Warm"), (std::vector<std::string>{"", ""}));  // no block to ask with
  for (const auto& d : transport.data) EXPECT_FALSE(d.item == "Warm" && d.ackRequested);
}

TEST_F(DdeServerTest, PeriodicLinkSendsAtOnceThenOnlyChangesAfterItsInterval) {
  const ConversationId a = open(":1.5");
  const ConversationId b = open(":1.6");
  advise(":1.5", a, "AutoData");
  advise(":1.6", b, "autodata", /*warm=*/true);
  const ReplyToken pending = request(":1.6", b, "AutoData");
  transport.data.clear();

  server.write(1, "AutoData", bound());
  ASSERT_EQ(transport.data.size(), 2u);
  EXPECT_EQ(transport.data[0].block, textBlock("12.5"));
  EXPECT_EQ(transport.data[1].block, "");  // warm: no block
  EXPECT_EQ(transport.data[1].item, "autodata");
  EXPECT_TRUE(answeredWith(pending, "12.5"));
  EXPECT_EQ(server.entryCount(b), 1u);

  struct Step {
    std::int64_t advanceMs;
    const char* value;
    std::size_t sent;  // Data messages this look sends
  };
  const Step steps[] = {
      {500, "13", 0},   // changed, but the interval has not passed
      {500, "13", 0},   // exactly 1000 ms: not more than the interval
      {1, "13", 2},     // looked at: changed since the copy last sent
      {1001, "13", 0},  // unchanged
      {1001, "14", 2},
  };
  for (const auto& s : steps) {
    transport.data.clear();
    nowMs += s.advanceMs;
    value = s.value;
    server.checkLinks();
    EXPECT_EQ(transport.data.size(), s.sent) << "after " << s.advanceMs << " ms, value " << s.value;
  }
}

TEST_F(DdeServerTest, LinkChangeLinkModeZeroSendsOnEveryLook) {
  const ConversationId a = open(":1.5");
  advise(":1.5", a, "AutoData");
  transport.data.clear();
  server.write(0, "AutoData", bound());
  EXPECT_EQ(transport.data.size(), 1u);
  value = "x";
  nowMs += 1;
  server.checkLinks();
  EXPECT_EQ(transport.data.size(), 2u);
  server.checkLinks();
  EXPECT_EQ(transport.data.size(), 2u);
}

TEST_F(DdeServerTest, ANewWriteReplacesTheLink) {
  const ConversationId a = open(":1.5");
  advise(":1.5", a, "AutoData");
  server.write(1, "AutoData", bound());
  server.write(-1, "AutoData", bound());
  EXPECT_FALSE(server.hasLink("AutoData"));
  transport.data.clear();
  value = "changed";
  nowMs += 5000;
  server.checkLinks();
  EXPECT_TRUE(transport.data.empty());
}

TEST_F(DdeServerTest, RequestOnLinkedItemIsAnsweredAtOnceWithTheCurrentValue) {
  const ConversationId a = open(":1.5");
  server.write(1, "AutoData", bound());
  value = "newer";
  const ReplyToken t = request(":1.5", a, "AUTODATA");
  EXPECT_TRUE(answeredWith(t, "newer"));
  EXPECT_TRUE(events.log.empty());
  EXPECT_EQ(server.entryCount(a), 0u);
}

TEST_F(DdeServerTest, AdviseIsAcknowledgedBeforeItsHandlerRuns) {
  const ConversationId a = open(":1.5");
  ReplyToken t = 0;
  bool ackedFirst = false;
  events.onAdvise = [&] { ackedFirst = reply(t) && reply(t)->kind == Kind::Empty; };
  t = next();
  server.handleAdvise(t, ":1.5", a, "AutoData", kFormatText, false);
  EXPECT_TRUE(ackedFirst);
  EXPECT_EQ(events.log, std::vector<std::string>{"advise"});
}

TEST_F(DdeServerTest, AdviseOnLinkedItemSendsCurrentValueToTheNewEntryOnlyWithoutHandler) {
  const ConversationId a = open(":1.5");
  const ConversationId b = open(":1.6");
  advise(":1.5", a, "AutoData");
  server.write(1, "AutoData", bound());
  events.log.clear();
  transport.data.clear();
  value = "99";
  const ReplyToken t = advise(":1.6", b, "AutoData", true);
  EXPECT_EQ(reply(t)->kind, Kind::Empty);
  ASSERT_EQ(transport.data.size(), 1u);
  EXPECT_EQ(transport.data[0].client, ":1.6");
  EXPECT_EQ(transport.data[0].block, "");  // a warm entry gets no block
  EXPECT_TRUE(events.log.empty());
}

TEST_F(DdeServerTest, UnadviseCountsRemovedAdviseEntriesAndKeepsRequests) {
  const ConversationId a = open(":1.5");
  advise(":1.5", a, "AutoData");
  advise(":1.5", a, "AutoData", true);
  advise(":1.5", a, "Other");
  const ReplyToken pending = request(":1.5", a, "ManualData");

  struct Case {
    const char* item;
    std::uint32_t format;
    bool positive;
    std::size_t entriesLeft;
  };
  const Case cases[] = {
      {"AutoData", 2, false, 4},       // other formats remove nothing
      {"ManualData", 1, false, 4},     // pending requests are not advises
      {"autodata", 1, true, 2},        // both AutoData entries
      {"AutoData", 1, false, 2},       // nothing left to remove
      {"", 0, true, 1},                // every advise; the request stays
      {"", 1, false, 1},
  };
  for (const auto& c : cases) {
    server.handleUnadvise(next(), ":1.5", a, c.item, c.format);
    const auto* r = reply(token);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->kind == Kind::Empty, c.positive) << c.item << " format " << c.format;
    EXPECT_EQ(server.entryCount(a), c.entriesLeft) << c.item;
  }
  EXPECT_EQ(reply(pending), nullptr);
}

TEST_F(DdeServerTest, TerminateAnswersPendingRequestsAndRemovesTheConversation) {
  const ConversationId a = open(":1.5");
  const ConversationId b = open(":1.5");
  const ReplyToken p1 = request(":1.5", a, "ManualData");
  const ReplyToken p2 = request(":1.5", a, "Other");
  const ReplyToken p3 = request(":1.5", b, "ManualData");
  server.handleTerminate(next(), ":1.5", a);
  EXPECT_EQ(reply(token)->kind, Kind::Empty);
  EXPECT_TRUE(failedWith(p1, DdeError::Terminated));
  EXPECT_TRUE(failedWith(p2, DdeError::Terminated));
  EXPECT_EQ(reply(p3), nullptr);
  EXPECT_EQ(server.conversationCount(), 1u);
  EXPECT_TRUE(failedWith(request(":1.5", a, "ManualData"), DdeError::UnknownConversation));
}

TEST_F(DdeServerTest, ClientLeavingTheBusEndsOnlyItsConversations) {
  const ConversationId a = open(":1.5");
  open(":1.5");
  const ConversationId other = open(":1.6");
  const ReplyToken mine = request(":1.5", a, "ManualData");
  const ReplyToken theirs = request(":1.6", other, "ManualData");
  advise(":1.5", a, "AutoData");
  server.clientLeft(":1.5");
  EXPECT_TRUE(failedWith(mine, DdeError::Terminated));
  EXPECT_EQ(reply(theirs), nullptr);
  EXPECT_FALSE(server.hasConversationsOf(":1.5"));
  EXPECT_EQ(server.conversationCount(), 1u);
  // Later writes reach only the remaining client.
  transport.data.clear();
  server.write(1, "AutoData", bound());
  EXPECT_TRUE(transport.data.empty());
}

TEST_F(DdeServerTest, ExecuteIsAcknowledgedOnceWhenTheHandlerSaysSoOrReturnsAndPokeIsIgnored) {
  const ConversationId a = open(":1.5");
  // Not before the handler has run: its immediate effects come first.
  std::size_t repliesSeen = 99;
  events.onExecute = [&](const std::function<void()>&) { repliesSeen = transport.replies.size(); };
  const std::size_t before = transport.replies.size();
  server.handleExecute(next(), ":1.5", a, "[run]");
  EXPECT_EQ(repliesSeen, before);
  EXPECT_EQ(reply(token)->kind, Kind::Empty);
  EXPECT_EQ(events.log, std::vector<std::string>{"execute [run]"});
  // A handler that acknowledges before it waits is answered then, and only once.
  events.onExecute = [&](const std::function<void()>& acknowledge) {
    acknowledge();
    repliesSeen = transport.replies.size();
    acknowledge();
  };
  server.handleExecute(next(), ":1.5", a, "[wait(1)]");
  EXPECT_EQ(repliesSeen, before + 2);
  EXPECT_NE(reply(token), nullptr);  // exactly one reply
  // A command the program does not take is refused with Busy.
  events.onExecute = nullptr;
  events.taken = false;
  server.handleExecute(next(), ":1.5", a, "[send_w(x)]");
  EXPECT_TRUE(failedWith(token, DdeError::Busy));
  events.log.clear();
  server.handlePoke(next(), ":1.5", a);
  EXPECT_EQ(reply(token)->kind, Kind::Empty);
  EXPECT_TRUE(events.log.empty());
  EXPECT_EQ(server.entryCount(a), 0u);
}

TEST_F(DdeServerTest, RequestHandlerAnswerWithinTheCallReachesTheRequester) {
  const ConversationId a = open(":1.5");
  events.onRequest = [&] { server.write(-1, "ManualData", bound()); };
  value = "";
  const ReplyToken t = request(":1.5", a, "ManualData");
  ASSERT_NE(reply(t), nullptr);
  EXPECT_EQ(reply(t)->block, std::string(1, '\0'));  // an empty value is the single zero byte
}

// A client that requests steadily for hours, or links and unlinks, never meets Busy with
// nothing pending: what is answered or removed gives its share back.
TEST_F(DdeServerTest, AnsweredRequestsAndRemovedAdvisesGiveTheirShareBack) {
  const ConversationId c = open(":1.5");
  for (std::size_t i = 0; i < kMaxPendingRequestsPerClient + 10; ++i) {
    transport.replies.clear();
    const ReplyToken t = request(":1.5", c, "Nothing");
    server.write(-1, "Nothing", bound());
    ASSERT_TRUE(answeredWith(t, value)) << "request " << i;
  }
  for (std::size_t i = 0; i < kMaxAdvisesPerClient + 10; ++i) {
    ASSERT_EQ(reply(advise(":1.5", c, "AutoData"))->kind, Kind::Empty) << "advise " << i;
    server.handleUnadvise(next(), ":1.5", c, "AutoData", kFormatText);
  }
  EXPECT_EQ(server.pendingRequestCount(), 0u);
}

TEST_F(DdeServerTest, GrowthIsBoundedForMisbehavingClients) {
  // Pending requests and advise entries: a share per client over all its conversations, and
  // a bound in all; beyond them the call is refused with Busy. A client holding no request
  // still gets one in when others fill the bound in all.
  struct Case {
    bool newcomerGetsOne;
    std::size_t perClient;
    std::size_t inAll;
    std::function<ReplyToken(const std::string&, ConversationId, std::size_t)> add;
  };
  const Case cases[] = {
      {true, kMaxPendingRequestsPerClient, kMaxPendingRequests,
       [&](const std::string& client, ConversationId c, std::size_t) { return request(client, c, "Nothing"); }},
      {false, kMaxAdvisesPerClient, kMaxAdvises,
       [&](const std::string& client, ConversationId c, std::size_t i) {
         return advise(client, c, "Item" + std::to_string(i));
       }},
  };
  int client = 100;
  for (const auto& c : cases) {
    std::size_t added = 0;
    while (added < c.inAll) {
      const std::string name = ":1." + std::to_string(client++);
      const ConversationId first = open(name), second = open(name);
      for (std::size_t i = 0; i < c.perClient; ++i, ++added) c.add(name, i % 2 ? first : second, i);
      EXPECT_TRUE(failedWith(c.add(name, first, 0), DdeError::Busy)) << name;
    }
    const std::string late = ":1." + std::to_string(client++);
    const ConversationId lateConversation = open(late);
    if (c.newcomerGetsOne) {
      EXPECT_EQ(reply(c.add(late, lateConversation, 0)), nullptr);  // pending
      EXPECT_EQ(server.pendingRequestCount(), kMaxPendingRequests + 1);
    }
    EXPECT_TRUE(failedWith(c.add(late, lateConversation, 1), DdeError::Busy));
  }
  EXPECT_TRUE(failedWith(request(":1.100", 1, std::string(256, 'x')), DdeError::Negative));

  server.close();
  const ConversationId a = open(":1.5");
  for (std::size_t i = 1; i < kMaxConversationsPerClient; ++i) open(":1.5");
  server.handleInitiate(next(), ":1.5", "", "");
  EXPECT_TRUE(failedWith(token, DdeError::NoAnswer));  // this client has its share
  for (int client = 100; server.conversationCount() < kMaxConversations; ++client) {
    for (std::size_t i = 0; i < kMaxConversationsPerClient && server.conversationCount() < kMaxConversations; ++i) {
      open(":1." + std::to_string(client));
    }
  }
  server.handleInitiate(next(), ":1.99", "", "");
  EXPECT_TRUE(failedWith(token, DdeError::NoAnswer));
  EXPECT_EQ(server.entryCount(a), 0u);
}

TEST_F(DdeServerTest, CloseAnswersEveryPendingRequestAndDropsLinks) {
  const ConversationId a = open(":1.5");
  const ReplyToken t = request(":1.5", a, "ManualData");
  server.write(1, "AutoData", bound());
  server.close();
  EXPECT_TRUE(failedWith(t, DdeError::Terminated));
  EXPECT_EQ(server.conversationCount(), 0u);
  EXPECT_FALSE(server.hasLink("AutoData"));
}

TEST(TextBlock, IsTheTextUpToItsFirstZeroThenOneZero) {
  EXPECT_EQ(textBlock(""), std::string(1, '\0'));
  EXPECT_EQ(textBlock("12.5  "), std::string("12.5  \0", 7));
  EXPECT_EQ(textBlock(std::string("ab\0cd", 5)), std::string("ab\0", 3));
}

}  // namespace
}  // namespace kelvor::dde
