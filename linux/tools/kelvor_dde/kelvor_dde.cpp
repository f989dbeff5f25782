// kelvor-dde: talks DDE to Kelvor (or any server of the same D-Bus contract) from a shell.
//
// One invocation opens one conversation, sends one message, prints what came back and
// terminates the conversation. `advise` stays and prints every update until it is
// interrupted (exit 0) or the server leaves the bus (exit 1).

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
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
#include <unistd.h>

#include "kelvor_build.h"

namespace {

constexpr int kPositive = 0;
constexpr int kNegative = 1;  // a negative answer, or no server
constexpr int kUsage = 2;
constexpr int kTimeout = 3;

const char* const kHelp = R"(NAME
    kelvor-dde - send DDE messages to Kelvor over D-Bus

SYNOPSIS
    kelvor-dde [OPTIONS] request [ITEM]
    kelvor-dde [OPTIONS] advise [ITEM]
    kelvor-dde [OPTIONS] execute COMMAND
    kelvor-dde [OPTIONS] poke ITEM TEXT
    kelvor-dde --help | --version

DESCRIPTION
    Opens a DDE conversation with the service on the D-Bus session bus (service S is the
    bus name dde.S, object /, interface dde.Server), sends one message and ends the
    conversation again. Values are CF_TEXT: they are printed as their text without the
    terminating zero, blank padding kept, followed by a newline.

COMMANDS
    request [ITEM]
        Asks for the value of ITEM (default ManualData) and prints it. After the command
        [WAITRS] the answer comes with the next frame, or after about 5 seconds.
    advise [ITEM]
        Hot-links ITEM (default AutoData): prints each value the server sends on its own
        line, until interrupted (Ctrl-C, exit 0) or until the server leaves the bus
        (exit 1). Kelvor sends AutoData at most once a second, and only when it changed;
        the item Readings sends every reading, once each, in order.
    execute COMMAND
        Sends an execute command, for example "[RUN]", "[SEND(abc)]" or "[WAIT(1.5)]".
    poke ITEM TEXT
        Sends TEXT as the data of ITEM; Kelvor acknowledges and ignores it.

OPTIONS
    --service NAME   the DDE service name (default Kelvor)
    --topic NAME     the topic (default System)
    --timeout SECONDS
                     how long to wait for each answer (default 10)
    -h, --help       print this text and exit
    -v, --version    print the version and exit
    --               the words after it belong to the command, even one that begins
                     with "-" (kelvor-dde poke Value -- -5)

EXIT STATUS
    0   positive answer
    1   negative answer, or no server
    2   usage error
    3   no answer within the time-out

EXAMPLES
    kelvor-dde request
    kelvor-dde execute '[WAITRS]' && kelvor-dde request
    kelvor-dde advise AutoData
)";

struct Options {
  QString service = QStringLiteral("Kelvor");
  QString topic = QStringLiteral("System");
  int timeoutMs = 10000;
  QStringList words;  // the command and its arguments
};

int usage(const std::string& why) {
  std::fprintf(stderr,
               "kelvor-dde: %s (usage: kelvor-dde [OPTIONS] request|advise|execute|poke ...; see kelvor-dde --help)\n",
               why.c_str());
  return kUsage;
}

// Qt's "Unknown option 'x'." as part of our own sentence.
QString sentencePart(QString text) {
  if (text.endsWith(u'.')) text.chop(1);
  if (!text.isEmpty()) text[0] = text[0].toLower();
  return text;
}

// A service name must make a valid bus name element after "dde.".
bool validService(const QString& name) {
  if (name.isEmpty() || name.size() > 200 || name.front().isDigit()) return false;
  for (QChar c : name) {
    if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_' && c != u'-') return false;
  }
  return true;
}

// Parses the command line; returns an exit code when the program should end at once.
// Options may stand anywhere; a word that begins with "-" but belongs to the command (a poked
// "-5") follows "--".
std::optional<int> parse(const QStringList& args, Options& options) {
  QCommandLineParser parser;
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
  const QCommandLineOption service(QStringLiteral("service"), QString(), QStringLiteral("NAME"));
  const QCommandLineOption topic(QStringLiteral("topic"), QString(), QStringLiteral("NAME"));
  const QCommandLineOption timeout(QStringLiteral("timeout"), QString(), QStringLiteral("SECONDS"));
  parser.addOptions({help, version, service, topic, timeout});
  if (!parser.parse(args)) return usage(sentencePart(parser.errorText()).toStdString());
  if (parser.isSet(help)) {
    std::fputs(kHelp, stdout);
    return kPositive;
  }
  if (parser.isSet(version)) {
    std::printf("kelvor-dde %s\n", KELVOR_VERSION);
    return kPositive;
  }
  if (parser.isSet(service)) {
    options.service = parser.value(service);
    if (!validService(options.service))
      return usage("the service name may hold only letters, digits, '_' and '-', and not start with a digit");
  }
  if (parser.isSet(topic)) options.topic = parser.value(topic);
  if (parser.isSet(timeout)) {
    bool ok = false;
    const double s = parser.value(timeout).toDouble(&ok);
    if (!ok || !(s > 0) || s > 2000000) return usage("--timeout needs a positive number of SECONDS");
    options.timeoutMs = static_cast<int>(s * 1000 + 0.5);
    if (options.timeoutMs < 1) options.timeoutMs = 1;
  }
  options.words = parser.positionalArguments();
  if (options.words.isEmpty()) return usage("a command is needed: request, advise, execute or poke");
  const QString& command = options.words[0];
  const auto count = options.words.size();
  if (command == QStringLiteral("request") || command == QStringLiteral("advise")) {
    if (count > 2) return usage(command.toStdString() + " takes at most one ITEM");
  } else if (command == QStringLiteral("execute")) {
    if (count != 2) return usage("execute takes one COMMAND");
  } else if (command == QStringLiteral("poke")) {
    if (count != 3) return usage("poke takes an ITEM and a TEXT");
  } else {
    return usage("unknown command " + command.toStdString());
  }
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
      return kNegative;
    }
    const QString command = options_.words[0];
    if (command == QStringLiteral("advise")) return advise();

    QDBusMessage reply;
    if (const int code = initiate(); code != kPositive) return code;
    int code = kPositive;
    if (command == QStringLiteral("request")) {
      code = call(QStringLiteral("Request"), {conversation_, item(QStringLiteral("ManualData")), 1u}, reply);
      if (code == kPositive) printValue(reply.arguments().value(0).toByteArray());
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
    if (code == kPositive) conversation_ = reply.arguments().value(0).toUInt();
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
    if (reply.type() == QDBusMessage::ReplyMessage) return kPositive;
    const QString error = reply.errorName();
    int code = kNegative;
    QString text;
    if (error == QStringLiteral("org.freedesktop.DBus.Error.NoReply") ||
        error == QStringLiteral("org.freedesktop.DBus.Error.Timeout")) {
      code = kTimeout;
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
      return kNegative;
    }
    QDBusServiceWatcher watcher(busName_, bus_, QDBusServiceWatcher::WatchForUnregistration);
    int exitCode = kPositive;
    connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, this, [&exitCode] {
      std::fputs("kelvor-dde: the DDE server left the bus\n", stderr);
      exitCode = kNegative;
      QCoreApplication::exit(kNegative);
    });
    if (const int code = initiate(); code != kPositive) return code;
    QDBusMessage reply;
    if (const int code = call(QStringLiteral("Advise"), {conversation_, item(QStringLiteral("AutoData")), 1u, false, false}, reply);
        code != kPositive) {
      terminate();
      return code;
    }
    const int loopCode = QCoreApplication::exec();
    if (loopCode == kPositive) terminate();  // interrupted: leave the server tidy
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
  QObject::connect(&interrupted, &QSocketNotifier::activated, [] { QCoreApplication::exit(kPositive); });

  Client client(options);
  return client.run();
}

#include "kelvor_dde.moc"
