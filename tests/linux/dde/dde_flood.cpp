// A hostile DDE client for the end-to-end test. It holds the server's gate with a long
// [WAIT( of its own, then, without waiting for answers, sends FOREIGN requests whose item
// is SIZE bytes of "B" on a conversation that is not its own, and OWN requests with a
// 255-character item on its own conversation. It prints how the calls were answered within
// five seconds, one line per answer ("dde.Error.UnknownConversation 66", "dde.Error.Busy 50",
// "waiting 1024"), and leaves the server waiting.
// Usage: dde_flood FOREIGN SIZE OWN
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <cstdio>
#include <map>
#include <vector>

namespace {

QDBusMessage method(const QString& name, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall("dde.Kelvor", "/", "dde.Server", name);
  m.setArguments(args);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: dde_flood FOREIGN SIZE OWN\n");
    return 2;
  }
  const int foreign = std::atoi(argv[1]), size = std::atoi(argv[2]), own = std::atoi(argv[3]);
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QDBusMessage initiated = bus.call(method("Initiate", {QString("Kelvor"), QString("System")}));
  const uint conversation = initiated.arguments().value(0).toUInt();
  if (conversation == 0 || bus.call(method("Execute", {conversation, QString("[WAIT(99999999)]")})).type() !=
                               QDBusMessage::ReplyMessage) {
    std::fprintf(stderr, "dde_flood: the server did not answer\n");
    return 1;
  }
  std::vector<QDBusPendingCall> calls;
  const QString big(size, u'B'), item(255, u'i');
  for (int i = 0; i < foreign; ++i) calls.push_back(bus.asyncCall(method("Request", {conversation + 1000, big, 1u}), 600000));
  for (int i = 0; i < own; ++i) calls.push_back(bus.asyncCall(method("Request", {conversation, item, 1u}), 600000));
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  std::map<QString, int> tally;
  for (auto& c : calls) ++tally[c.isFinished() ? c.error().name() : QStringLiteral("waiting")];
  for (const auto& [answer, count] : tally) std::printf("%s %d\n", qPrintable(answer), count);
  return 0;
}
