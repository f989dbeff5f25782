// The D-Bus transport on a real session bus (tests/linux/headless.sh provides a private one):
// calls from several clients, bad input, clients leaving, and the modal gate.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>
#include <memory>
#include <tuple>
#include <vector>

#include "core/dde/dde_server.h"
#include "linux/dde_outbox.h"
#include "linux/dde_transport.h"
#include "core/toolkit/modal_gate.h"

namespace kelvor {
namespace {

using dde::DdeServer;

const QString kBusName = QStringLiteral("dde.KelvorBusTest");

struct Events : dde::DdeEvents {
  void requestPending() override {
    ++requests;
    if (answerRequests) server->write(-1, "ManualData", [this] { return value; });
  }
  void adviseWithoutLink(const std::string&) override { server->write(1, "AutoData", [this] { return value; }); }
  bool execute(const std::string& command, const std::function<void()>&) override {
    commands.push_back(command);
    return true;
  }

  DdeServer* server = nullptr;
  bool answerRequests = true;
  int requests = 0;
  std::string value = "12.5";
  std::vector<std::string> commands;
};

void pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

// Waits for a reply while the server, in this same thread, gets to answer it.
bool finish(QDBusPendingCall& call, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!call.isFinished() && t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return call.isFinished();
}

class Client {
 public:
  explicit Client(const QString& name)
      : name_(name), bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)) {}
  ~Client() { leave(); }
  void leave() {
    if (left_) return;
    left_ = true;
    // The connection closes when its last handle goes.
    bus_ = QDBusConnection(QStringLiteral("left"));
    QDBusConnection::disconnectFromBus(name_);
  }

  QDBusPendingCall call(const QString& method, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(kBusName, "/", "dde.Server", method);
    m.setArguments(args);
    return bus_.asyncCall(m, 10000);
  }
  // Calls and waits; the reply message (an error reply included).
  QDBusMessage done(const QString& method, const QVariantList& args) {
    QDBusPendingCall c = call(method, args);
    if (!finish(c)) return {};
    return c.reply();
  }
  uint initiate() { return done("Initiate", {QString("Kelvor"), QString("System")}).arguments().value(0).toUInt(); }
  QDBusConnection& bus() { return bus_; }

 private:
  QString name_;
  QDBusConnection bus_;
  bool left_ = false;
};

QString errorOf(const QDBusMessage& m) { return m.type() == QDBusMessage::ErrorMessage ? m.errorName() : QString(); }

class DBusTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus (run under tests/linux/headless.sh)";
    events.server = &server;
    std::string error;
    ASSERT_TRUE(transport.start("KelvorBusTest", server, error)) << error;
  }
  void TearDown() override { transport.close(); }

  DBusDdeTransport transport;
  Events events;
  DdeServer server{"Kelvor", "System", transport, events, [] {
                     return static_cast<std::int64_t>(QDateTime::currentMSecsSinceEpoch());
                   }};
};

TEST_F(DBusTransportTest, RefusesBadFormatsUnknownAndForeignConversations) {
  Client a("a"), b("b");
  const uint mine = a.initiate();
  ASSERT_GT(mine, 0u);
  EXPECT_EQ(errorOf(a.done("Request", {mine, QString("ManualData"), 0xFFFFu})), "dde.Error.Negative");
  EXPECT_EQ(errorOf(a.done("Advise", {mine, QString("AutoData"), 0xFFFFu, false, false})), "dde.Error.Negative");
  EXPECT_EQ(errorOf(a.done("Request", {9999u, QString("ManualData"), 1u})), "dde.Error.UnknownConversation");
  EXPECT_EQ(errorOf(b.done("Request", {mine, QString("ManualData"), 1u})), "dde.Error.UnknownConversation");
  EXPECT_EQ(errorOf(b.done("Terminate", {mine})), "dde.Error.UnknownConversation");
  EXPECT_EQ(errorOf(a.done("Initiate", {QString("Other"), QString("System")})), "dde.Error.NoAnswer");
  const QDBusMessage data = a.done("Request", {mine, QString("manualdata"), 1u});
  ASSERT_EQ(data.type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(data.arguments().value(0).toByteArray(), QByteArray("12.5\0", 5));
}

TEST_F(DBusTransportTest, HugeAndOddInputIsAcknowledgedWithoutHarm) {
  Client a("a");
  const uint c = a.initiate();
  const QString megabyte = QStringLiteral("[SEND(") + QString(1 << 20, u'x') + QStringLiteral(")]");
  EXPECT_EQ(a.done("Execute", {c, megabyte}).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(a.done("Execute", {c, QString::fromUtf8("[SEND(\x01\t\xE2\x98\x83\xF0\x9F\x98\x80)]")}).type(),
            QDBusMessage::ReplyMessage);
  EXPECT_EQ(a.done("Poke", {c, QString("AnyItem"), 1u, QByteArray(16 << 20, 'p')}).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(errorOf(a.done("Request", {c, QString(300, u'i'), 1u})), "dde.Error.Negative");
  // Calls larger than any the server takes are refused for good: they used to get Busy, "try
  // again later", though no retry could ever be taken.
  const QString huge(16 << 20, u'x');
  EXPECT_EQ(errorOf(a.done("Execute", {c, huge})), "dde.Error.Negative");
  EXPECT_EQ(errorOf(a.done("Request", {c, huge, 1u})), "dde.Error.Negative");
  EXPECT_EQ(errorOf(a.done("Poke", {c, QString("AnyItem"), 1u, QByteArray(24 << 20, 'p')})), "dde.Error.Negative");
  ASSERT_EQ(events.commands.size(), 2u);
  EXPECT_LE(events.commands[0].size(), 254u);  // no more than the command needs is kept
  EXPECT_EQ(events.commands[1], "[SEND(\x01\t\xE2\x98\x83\xF0\x9F\x98\x80)]");
}

TEST_F(DBusTransportTest, AHundredClientsAreServedAndForgottenWhenTheyLeave) {
  std::vector<std::unique_ptr<Client>> clients;
  std::vector<QDBusPendingCall> initiates;
  for (int i = 0; i < 100; ++i) {
    clients.push_back(std::make_unique<Client>(QString("c%1").arg(i)));
    initiates.push_back(clients.back()->call("Initiate", {QString(), QString()}));
  }
  std::vector<QDBusPendingCall> requests;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(finish(initiates[i]));
    const uint c = initiates[i].reply().arguments().value(0).toUInt();
    requests.push_back(clients[i]->call("Request", {c, QString("ManualData"), 1u}));
  }
  for (auto& r : requests) {
    ASSERT_TRUE(finish(r));
    EXPECT_EQ(r.reply().arguments().value(0).toByteArray(), QByteArray("12.5\0", 5));
  }
  EXPECT_EQ(server.conversationCount(), 100u);
  clients.clear();
  for (int i = 0; i < 200 && server.conversationCount() > 0; ++i) pump(10);
  EXPECT_EQ(server.conversationCount(), 0u);
}

TEST_F(DBusTransportTest, PendingRequestsEndWhenTheirConversationEnds) {
  events.answerRequests = false;
  Client a("a"), gone("gone");
  const uint c = a.initiate();
  QDBusPendingCall pending = a.call("Request", {c, QString("ManualData"), 1u});
  pump(100);
  EXPECT_FALSE(pending.isFinished());
  EXPECT_EQ(a.done("Terminate", {c}).type(), QDBusMessage::ReplyMessage);
  ASSERT_TRUE(finish(pending));
  EXPECT_EQ(pending.error().name(), "dde.Error.Terminated");

  // A client that leaves the bus with a request pending: its conversation goes.
  const uint g = gone.initiate();
  gone.call("Request", {g, QString("ManualData"), 1u});
  pump(100);
  EXPECT_EQ(server.entryCount(g), 1u);
  gone.leave();
  for (int i = 0; i < 200 && server.conversationCount() > 0; ++i) pump(10);
  EXPECT_EQ(server.conversationCount(), 0u);
}

TEST_F(DBusTransportTest, MessagesWaitBehindAModalWindowInArrivalOrder) {
  Client a("a");
  const uint c = a.initiate();
  auto hold = std::make_unique<ModalGate::Hold>(modalGate());
  QDBusPendingCall first = a.call("Execute", {c, QString("[one]")});
  QDBusPendingCall second = a.call("Execute", {c, QString("[two]")});
  pump(200);
  EXPECT_FALSE(first.isFinished());
  EXPECT_TRUE(events.commands.empty());
  hold.reset();
  ASSERT_TRUE(finish(second));
  EXPECT_TRUE(first.isFinished());
  EXPECT_EQ(events.commands, (std::vector<std::string>{"[one]", "[two]"}));
}

// Collects Data signals that reach one client.
class DataSink : public QObject {
  Q_OBJECT
 public slots:
  void onData(uint conversation, const QString& item, uint format, const QByteArray& data) {
    received.push_back({conversation, item, format, data});
  }

 public:
  struct Data {
    uint conversation;
    QString item;
    uint format;
    QByteArray data;
  };
  std::vector<Data> received;
};

TEST_F(DBusTransportTest, DataSignalsReachOnlyTheAdvisingClient) {
  Client a("a"), other("other");
  DataSink mine, theirs;
  ASSERT_TRUE(a.bus().connect(kBusName, "/", "dde.Server", "Data", &mine, SLOT(onData(uint, QString, uint, QByteArray))));
  ASSERT_TRUE(other.bus().connect(kBusName, "/", "dde.Server", "Data", &theirs,
                                  SLOT(onData(uint, QString, uint, QByteArray))));
  other.initiate();
  const uint c = a.initiate();
  EXPECT_EQ(a.done("Advise", {c, QString("AutoData"), 1u, false, false}).type(), QDBusMessage::ReplyMessage);
  for (int i = 0; i < 100 && mine.received.empty(); ++i) pump(10);
  ASSERT_EQ(mine.received.size(), 1u);
  EXPECT_EQ(mine.received[0].conversation, c);
  EXPECT_EQ(mine.received[0].item, "AutoData");
  EXPECT_EQ(mine.received[0].format, 1u);
  EXPECT_EQ(mine.received[0].data, QByteArray("12.5\0", 5));

  events.value = "13.0";
  pump(1100);            // a link of one second sends once its second has passed,
  server.checkLinks();   // when the desk's link timer looks
  for (int i = 0; i < 100 && mine.received.size() < 2; ++i) pump(10);
  ASSERT_EQ(mine.received.size(), 2u);
  EXPECT_EQ(mine.received[1].data, QByteArray("13.0\0", 5));
  EXPECT_TRUE(theirs.received.empty());
}

// A modal window holds the gate while one client floods: what the arguments decide is
// answered at once, what would wait beyond the client's bound gets Busy at once, and once
// the gate opens the server answers new calls within a second (a backlog past libdbus's
// 63 MiB receive limit used to leave the connection deaf for good).
TEST_F(DBusTransportTest, ABacklogBehindTheGateNeverLeavesTheServerDeaf) {
  Client x("x"), y("y"), late("late");
  const uint cx = x.initiate(), cy = y.initiate();
  auto hold = std::make_unique<ModalGate::Hold>(modalGate());

  const QString megabyte(1 << 20, u'B');
  std::vector<QDBusPendingCall> atOnce;
  // Eight at a time, as a main thread that keeps up takes them: more on their way at once
  // would meet the bound of calls on their way and be told Busy instead.
  for (int i = 0; i < 66; ++i) {
    atOnce.push_back(y.call("Request", {cx, megabyte, 1u}));
    if (i % 8 == 7) {
      ASSERT_TRUE(finish(atOnce.back()));
    }
  }
  atOnce.push_back(y.call("Request", {cy, megabyte, 1u}));
  atOnce.push_back(y.call("Request", {cy, QString("ManualData"), 7u}));
  atOnce.push_back(x.call("Poke", {cx, QString("Item"), 1u, QByteArray(3 << 20, 'p')}));
  atOnce.push_back(x.call("Initiate", {QString("Excel"), QString("System")}));
  for (auto& c : atOnce) ASSERT_TRUE(finish(c));
  std::vector<QDBusPendingCall> flood;
  const QString item(255, u'i');
  for (std::size_t i = 0; i < kMaxWaitingCallsPerClient + 50; ++i) flood.push_back(y.call("Request", {cy, item, 1u}));
  // Beyond what may be on its way to the main thread, the wire answers Busy while this thread,
  // the server's main thread, does not run at all.
  flood.back().waitForFinished();
  EXPECT_EQ(flood.back().error().name(), "dde.Error.Busy");
  for (int i = 0; i < 66; ++i) EXPECT_EQ(atOnce[i].error().name(), "dde.Error.UnknownConversation");
  EXPECT_EQ(atOnce[66].error().name(), "dde.Error.Negative");  // a name longer than a DDE name
  EXPECT_EQ(atOnce[67].error().name(), "dde.Error.Negative");  // no such format
  EXPECT_EQ(atOnce[68].error().name(), "dde.Error.Busy");      // more bytes than a client may park
  EXPECT_EQ(atOnce[69].error().name(), "dde.Error.NoAnswer");
  for (std::size_t i = kMaxWaitingCallsPerClient; i < flood.size(); ++i) {
    ASSERT_TRUE(finish(flood[i])) << i;
    EXPECT_EQ(flood[i].error().name(), "dde.Error.Busy");
  }
  pump(100);
  EXPECT_FALSE(flood[kMaxWaitingCallsPerClient - 1].isFinished());
  EXPECT_EQ(modalGate().queuedCount(), kMaxWaitingCallsPerClient);

  QDBusPendingCall initiate = late.call("Initiate", {QString("Kelvor"), QString("System")});
  pump(50);
  hold.reset();
  QElapsedTimer sinceOpen;
  sinceOpen.start();
  ASSERT_TRUE(finish(initiate, 1000));
  QDBusPendingCall request = late.call("Request", {initiate.reply().arguments().value(0).toUInt(),
                                                   QString("ManualData"), 1u});
  QDBusPendingCall ping = late.bus().asyncCall(
      QDBusMessage::createMethodCall(kBusName, "/", "org.freedesktop.DBus.Peer", "Ping"), 1000);
  ASSERT_TRUE(finish(request, 1000));
  ASSERT_TRUE(finish(ping, 1000));
  EXPECT_LT(sinceOpen.elapsed(), 1000);
  EXPECT_EQ(request.reply().arguments().value(0).toByteArray(), QByteArray("12.5\0", 5));
  EXPECT_EQ(ping.reply().type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(server.pendingRequestCount(), kMaxWaitingCallsPerClient);  // the flood, parked
}

// What waited behind the gate gives its share of the bounds back once handled: a megabyte
// poke held at each of ten modal windows in turn is never refused as Busy.
TEST_F(DBusTransportTest, WhatWaitedBehindTheGateGivesItsShareBack) {
  Client x("x");
  const uint c = x.initiate();
  for (int round = 0; round < 10; ++round) {
    auto hold = std::make_unique<ModalGate::Hold>(modalGate());
    QDBusPendingCall poke = x.call("Poke", {c, QString("Item"), 1u, QByteArray(1 << 20, 'p')});
    pump(30);
    hold.reset();
    ASSERT_TRUE(finish(poke)) << round;
    EXPECT_EQ(errorOf(poke.reply()), QString()) << round;
  }
}

TEST(ServiceName, IsOneElementOfABusName) {
  const std::pair<std::string, bool> cases[] = {
      {"Kelvor", true},  {"Kelvor2", true},   {"bench_2-left", true}, {std::string(251, 'K'), true},
      {"", false},       {"2Kelvor", false},  {"Kel.vor", false},     {"Kelvor 2", false},
      {"Kälvor", false}, {std::string(252, 'K'), false},
  };
  for (const auto& [name, valid] : cases) EXPECT_EQ(isBusServiceName(name), valid) << name;
}

// A client's answer waits behind at most one message of each other client, however many
// that client has waiting; what waits as a serial comes out as the answer it stands for.
TEST(Outbox, TakesClientsInTurn) {
  Outbox outbox;
  for (dbus_uint32_t serial = 1; serial <= 1000; ++serial) outbox.push(":1.7", serial, Outbox::Kind::Busy);
  outbox.push(":1.8", 42, Outbox::Kind::Acknowledgement);
  outbox.push(":1.9", busErrorAnswer(":1.9", 5, "dde.Error.Negative", "bad \xff\xc3( \xed\xa0\x80 text"));
  std::vector<std::tuple<std::string, dbus_uint32_t, std::string>> sent;
  while (DBusMessage* m = outbox.next()) {
    const char* error = dbus_message_get_error_name(m);
    sent.emplace_back(dbus_message_get_destination(m), dbus_message_get_reply_serial(m), error ? error : "");
    dbus_message_unref(m);
  }
  ASSERT_EQ(sent.size(), 1002u);
  EXPECT_EQ(sent[0], std::make_tuple(std::string(":1.7"), 1u, std::string("dde.Error.Busy")));
  EXPECT_EQ(sent[1], std::make_tuple(std::string(":1.8"), 42u, std::string()));
  EXPECT_EQ(sent[2], std::make_tuple(std::string(":1.9"), 5u, std::string("dde.Error.Negative")));
  EXPECT_EQ(sent[1001], std::make_tuple(std::string(":1.7"), 1000u, std::string("dde.Error.Busy")));
  EXPECT_TRUE(outbox.empty());
}

// A client that never reads its answers: what waits for it stops at its bound, which is told
// once, and the client is full (its calls left alone) until half of it has gone out; others
// are not held up meanwhile.
TEST(Outbox, WhatWaitsForOneClientIsBounded) {
  constexpr std::size_t bound = 64 * kOutboxSerialBytes;
  Outbox outbox(bound);
  std::size_t taken = 0;
  while (!outbox.push(":1.7", static_cast<dbus_uint32_t>(taken + 1), Outbox::Kind::Busy)) {
    ASSERT_LE(++taken, bound / kOutboxSerialBytes);
  }
  EXPECT_EQ(taken, bound / kOutboxSerialBytes);
  EXPECT_TRUE(outbox.full(":1.7"));
  EXPECT_FALSE(outbox.push(":1.7", busAnswer(DBUS_MESSAGE_TYPE_METHOD_RETURN, ":1.7", 1), 100));  // told once
  EXPECT_FALSE(outbox.push(":1.8", 42, Outbox::Kind::Acknowledgement));
  EXPECT_FALSE(outbox.full(":1.8"));
  std::size_t sent = 0, whileFull = 0;
  while (DBusMessage* m = outbox.next()) {
    if (dbus_message_get_destination(m) == std::string(":1.7")) {
      ++sent;
      if (outbox.full(":1.7")) ++whileFull;
    }
    dbus_message_unref(m);
  }
  EXPECT_EQ(sent, taken);
  EXPECT_EQ(whileFull, taken / 2 - 1);
  EXPECT_FALSE(outbox.full(":1.7"));
}

// libdbus aborts on text that is not valid UTF-8; a byte outside a character becomes U+FFFD.
TEST(Outbox, BusTextIsValidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"12.5 g \xc2\xb5", "12.5 g \xc2\xb5"},
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
      {"a\xb5" "b", "a\xef\xbf\xbd" "b"},            // Windows-1252 µ
      {"\xc3", "\xef\xbf\xbd"},                      // cut short
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},    // overlong
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate
      {std::string("a\0b", 3), "a\xef\xbf\xbd" "b"},
  };
  for (const auto& [text, valid] : cases) {
    EXPECT_EQ(busText(text), valid) << text;
    EXPECT_TRUE(dbus_validate_utf8(busText(text).c_str(), nullptr)) << text;
  }
}

}  // namespace
}  // namespace kelvor

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "dbus_transport_test.moc"
