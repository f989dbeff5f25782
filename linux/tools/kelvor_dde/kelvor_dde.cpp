// kelvor-dde: talks DDE to Kelvor (or any server of the same D-Bus contract) from a shell.
//
// One invocation opens one conversation, sends one message, prints what came back and
// terminates the conversation. `advise` stays and prints every update until it is
// interrupted (exit 0) or the server leaves the bus (exit 1).

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>
#include <unistd.h>

#include "core/dde/client_command_line.h"
#include "kelvor_build.h"

namespace {

using kelvor::dde::kClientNegative;
using kelvor::dde::kClientPositive;
using kelvor::dde::kClientTimeout;

constexpr kelvor::dde::ClientHelp kHelp{
    " over D-Bus",
    "    Opens a DDE conversation with the service on the D-Bus session bus (service S is the\n"
    "    bus name dde.S, object /, interface dde.Server), sends one message and ends the\n"
    "    conversation again. Values are CF_TEXT: they are printed as their text without the\n"
    "    terminating zero, blank padding kept, followed by a newline.",
    "leaves the bus"};

struct Options {
  QString service;
  QString topic;
  int timeoutMs = 0;
  QStringList words;  // the command and its arguments
};

std::optional<int> parse(const QStringList& args, Options& options) {
  std::vector<std::string> words;
  for (qsizetype i = 1; i < args.size(); ++i) words.push_back(args[i].toStdString());
  kelvor::dde::ClientOptions parsed;
  if (const auto code = kelvor::dde::parseClientCommandLine(words, kHelp, KELVOR_VERSION, parsed)) return code;
  options.service = QString::fromStdString(parsed.service);
  options.topic = QString::fromStdString(parsed.topic);
  options.timeoutMs = parsed.timeoutMs;
  for (const std::string& word : parsed.words) options.words << QString::fromStdString(word);
  return std::nullopt;
}

class Client : public QObject {
  Q_OBJECT

 public:
  explicit Client(const Options& options)
      : options_(options), bus_(QDBusConnection::sessionBus()), busName_(QStringLiteral("dde.") + options.service) {}

  int run() {
    if (!bus_.isConnected()) {
      std::fputs("kelvor-dde: no D-Bus session bus\n", stderr);
      return kClientNegative;
    }
    const QString command = options_.words[0];
    if (command == QStringLiteral("advise")) return advise();

    QDBusMessage reply;
    if (const int code = initiate(); code != kClientPositive) return code;
    int code = kClientPositive;
    if (command == QStringLiteral("request")) {
      code = call(QStringLiteral("Request"), {conversation_, item(QStringLiteral("ManualData")), 1u}, reply);
      if (code == kClientPositive) printValue(reply.arguments().value(0).toByteArray());
    } else if (command == QStringLiteral("execute")) {
      code = call(QStringLiteral("Execute"), {conversation_, options_.words[1]}, reply);
    } else {
      QByteArray block = options_.words[2].toUtf8();
      block.append('\0');
      code = call(QStringLiteral("Poke"), {conversation_, options_.words[1], 1u, block}, reply);
    }
    terminate();
    return code;
  }

 public slots:
  void onData(uint conversation, const QString&, uint, const QByteArray& data) {
    if (conversation == conversation_) printValue(data);
  }

 private:
  QString item(const QString& fallback) const { return options_.words.value(1, fallback); }

  int initiate() {
    QDBusMessage reply;
    const int code = call(QStringLiteral("Initiate"), {options_.service, options_.topic}, reply);
    if (code == kClientPositive) conversation_ = reply.arguments().value(0).toUInt();
    return code;
  }

  // Ends the conversation. The server takes the message up in turn even if this client has
  // stopped waiting, so a busy server (a [WAIT( or a message window) holds us a second at most.
  void terminate() {
    QDBusMessage reply;
    const int timeoutMs = options_.timeoutMs;
    options_.timeoutMs = std::min(timeoutMs, 1000);
    call(QStringLiteral("Terminate"), {conversation_}, reply, /*quiet=*/true);
    options_.timeoutMs = timeoutMs;
  }

  int call(const QString& method, const QVariantList& args, QDBusMessage& reply, bool quiet = false) {
    QDBusMessage message = QDBusMessage::createMethodCall(busName_, QStringLiteral("/"), QStringLiteral("dde.Server"), method);
    message.setArguments(args);
    reply = bus_.call(message, QDBus::Block, options_.timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) return kClientPositive;
    const QString error = reply.errorName();
    int code = kClientNegative;
    QString text;
    if (error == QStringLiteral("org.freedesktop.DBus.Error.NoReply") ||
        error == QStringLiteral("org.freedesktop.DBus.Error.Timeout")) {
      code = kClientTimeout;
      text = QStringLiteral("no answer to %1 within %2 seconds").arg(method).arg(options_.timeoutMs / 1000.0);
    } else if (error == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
               error == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) {
      text = QStringLiteral("no DDE server %1 on the session bus").arg(options_.service);
    } else {
      text = QStringLiteral("%1: %2 (%3)").arg(method, reply.errorMessage(), error);
    }
    if (!quiet) std::fprintf(stderr, "kelvor-dde: %s\n", text.toLocal8Bit().constData());
    return code;
  }

  static void printValue(const QByteArray& block) {
    // The text ends at its terminating zero; a warm update has no block and prints empty.
    const qsizetype end = block.indexOf('\0');
    const QByteArray text = end < 0 ? block : block.left(end);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

  int advise() {
    // Subscribed before the advise, so that the value sent at once is not missed.
    if (!bus_.connect(busName_, QStringLiteral("/"), QStringLiteral("dde.Server"), QStringLiteral("Data"), this,
                      SLOT(onData(uint, QString, uint, QByteArray)))) {
      std::fputs("kelvor-dde: cannot listen for Data signals\n", stderr);
      return kClientNegative;
    }
    QDBusServiceWatcher watcher(busName_, bus_, QDBusServiceWatcher::WatchForUnregistration);
    int exitCode = kClientPositive;
    connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, this, [&exitCode] {
      std::fputs("kelvor-dde: the DDE server left the bus\n", stderr);
      exitCode = kClientNegative;
      QCoreApplication::exit(kClientNegative);
    });
    if (const int code = initiate(); code != kClientPositive) return code;
    QDBusMessage reply;
    if (const int code = call(QStringLiteral("Advise"), {conversation_, item(QStringLiteral("AutoData")), 1u, false, false}, reply);
        code != kClientPositive) {
      terminate();
      return code;
    }
    const int loopCode = QCoreApplication::exec();
    if (loopCode == kClientPositive) terminate();  // interrupted: leave the server tidy
    return loopCode;
  }

  Options options_;
  QDBusConnection bus_;
  QString busName_;
  uint conversation_ = 0;
};

// Ctrl-C and SIGTERM end `advise` through the event loop, never inside the signal handler.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  Options options;
  if (const auto code = parse(QCoreApplication::arguments(), options)) return *code;

  if (::pipe(signalPipe) == 0) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
  }
  QSocketNotifier interrupted(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&interrupted, &QSocketNotifier::activated, [] { QCoreApplication::exit(kClientPositive); });

  Client client(options);
  return client.run();
}

#include "kelvor_dde.moc"
