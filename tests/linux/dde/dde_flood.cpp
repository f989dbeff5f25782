// A hostile DDE client for the end-to-end test. It holds the server's gate with a long
// [WAIT( of its own, then, without waiting for answers, sends FOREIGN requests whose item
// is SIZE bytes of "B" on a conversation that is not its own, and OWN requests with a
// 255-character item on its own conversation. It prints how the calls were answered within
// five seconds, one line per answer ("dde.Error.UnknownConversation 66", "dde.Error.Busy 50",
// "waiting 1024"), and leaves the server waiting.
// Usage: dde_flood FOREIGN SIZE OWN
//
// With "pokes N DELAY" instead, it opens a conversation, waits DELAY ms (time for another
// client to hold the server), sends N empty Pokes on it without waiting for answers, and
// prints how they were answered once all are, or after ten minutes.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
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

int pokes(int count, int delayMs) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  const uint conversation =
      bus.call(method("Initiate", {QString("Kelvor"), QString("System")})).arguments().value(0).toUInt();
  if (conversation == 0) {
    std::fprintf(stderr, "dde_flood: the server did not answer\n");
    return 1;
  }
  QThread::msleep(static_cast<unsigned long>(delayMs));
  std::vector<QDBusPendingCall> calls;
  QElapsedTimer clock;
  clock.start();
  const QDBusMessage poke = method("Poke", {conversation, QString("x"), 1u, QByteArray()});
  for (int i = 0; i < count; ++i) calls.push_back(bus.asyncCall(poke, 600000));
  std::printf("sent %d in %lld ms\n", count, static_cast<long long>(clock.elapsed()));
  std::fflush(stdout);
  std::size_t done = 0;
  while (clock.elapsed() < 600000 && done < calls.size()) {
    QEventLoop pass;
    QTimer::singleShot(50, &pass, &QEventLoop::quit);
    pass.exec();
    while (done < calls.size() && calls[done].isFinished()) ++done;
  }
  std::map<QString, int> tally;
  for (auto& c : calls) ++tally[c.isFinished() ? (c.isError() ? c.error().name() : QStringLiteral("answered")) : QStringLiteral("waiting")];
  for (const auto& [answer, n] : tally) std::printf("%s %d\n", qPrintable(answer), n);
  return 0;
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc == 4 && QByteArray(argv[1]) == "pokes") return pokes(std::atoi(argv[2]), std::atoi(argv[3]));
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
