// A stand-in for the desktop's remote-desktop portal (org.freedesktop.portal.Desktop) on the
// private session bus of a test: the real portal needs a GNOME or KDE session with its own
// backend and a person to answer its question, neither of which can run here. It answers
// CreateSession, SelectDevices and Start the way the portal does (a request object, then its
// Response signal) and writes each call it receives as one line to LOG.
//
// Usage: fake_portal LOG MODE
//   approve       every step succeeds; Start hands out the restore token "token-N"
//   refuse        Start is refused (the user said no)
//   refuse-token  Start is refused when a restore token was offered, approved otherwise
//   silent        CreateSession is taken but never answered
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTextStream>
#include <cstdio>

namespace {

class FakePortal : public QDBusVirtualObject {
 public:
  FakePortal(QString logPath, QString mode) : log_(logPath), mode_(std::move(mode)) {
    log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    if (message.interface() == QLatin1String("org.freedesktop.portal.Session") && member == QLatin1String("Close")) {
      write(QStringLiteral("Close"));
      connection.send(message.createReply());
      return true;
    }
    if (message.interface() != QLatin1String("org.freedesktop.portal.RemoteDesktop")) return false;
    QDBusConnection bus = connection;
    if (member == QLatin1String("NotifyKeyboardKeysym")) {
      write(QStringLiteral("Keysym 0x%1 %2").arg(args.value(2).toInt(), 0, 16).arg(args.value(3).toUInt()));
      bus.send(message.createReply());
      return true;
    }
    const QVariantMap options = qdbus_cast<QVariantMap>(args.last());
    QString sender = message.service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                .arg(sender, options.value(QStringLiteral("handle_token")).toString());
    bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));

    uint response = 0;
    QVariantMap results;
    if (member == QLatin1String("CreateSession")) {
      const QString session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                                  .arg(sender, options.value(QStringLiteral("session_handle_token")).toString());
      write(QStringLiteral("CreateSession"));
      if (mode_ == QLatin1String("silent")) return true;
      results.insert(QStringLiteral("session_handle"), session);
    } else if (member == QLatin1String("SelectDevices")) {
      offeredToken_ = options.value(QStringLiteral("restore_token")).toString();
      write(QStringLiteral("SelectDevices types=%1 persist_mode=%2 restore_token=%3")
                .arg(options.value(QStringLiteral("types")).toUInt())
                .arg(options.value(QStringLiteral("persist_mode")).toUInt())
                .arg(offeredToken_.isEmpty() ? QStringLiteral("-") : offeredToken_));
    } else if (member == QLatin1String("Start")) {
      write(QStringLiteral("Start"));
      const bool refused = mode_ == QLatin1String("refuse") ||
                           (mode_ == QLatin1String("refuse-token") && !offeredToken_.isEmpty());
      if (refused) {
        response = 1;
      } else {
        results.insert(QStringLiteral("devices"), 1u);
        results.insert(QStringLiteral("restore_token"), QStringLiteral("token-%1").arg(++tokens_));
      }
    } else {
      return false;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    signal.setArguments({response, results});
    bus.send(signal);
    return true;
  }

 private:
  void write(const QString& line) {
    QTextStream(&log_) << line << '\n';
  }

  QFile log_;
  QString mode_;
  QString offeredToken_;
  int tokens_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: fake_portal LOG approve|refuse|refuse-token|silent\n");
    return 2;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  FakePortal portal(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
  if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                 QDBusConnection::SubPath) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "fake_portal: cannot take org.freedesktop.portal.Desktop on the session bus\n");
    return 1;
  }
  std::puts("ready");
  std::fflush(stdout);
  return QCoreApplication::exec();
}
