#include "platform/dbus_dde_transport.h"

#include <QByteArray>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>
#include <unordered_map>

#include "toolkit/modal_gate.h"

namespace kelvor {
namespace {

constexpr auto kObjectPath = "/";
constexpr auto kInterface = "dde.Server";
// A little over one second, so that a link with an interval of one second is due at each look.
constexpr int kLinkTimerMs = 1050;
// A command is cut to 127 characters anyway; no more than this is kept from the bus.
constexpr int kCommandKeep = 254;

QByteArray bytes(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

// Queues one DDE event behind the modal gate. While it runs, the gate stays closed, so that
// no tick and no other DDE event slips in when the event paints or shows a notice: events
// are handled one at a time, as in a single event loop.
void postEvent(std::function<void()> event) {
  modalGate().post([event = std::move(event)] {
    ModalGate::Hold hold(modalGate());
    event();
  });
}

}  // namespace

// The object on the bus. Each slot takes the call's message and connection at once (they
// are valid only inside the slot), marks the reply as delayed and queues the message.
class DdeBusObject : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "dde.Server")

 public:
  explicit DdeBusObject(DBusDdeTransport::Impl& impl) : impl_(impl) {}

 public slots:
  uint Initiate(const QString& application, const QString& topic);
  QByteArray Request(uint conversation, const QString& item, uint format);
  void Advise(uint conversation, const QString& item, uint format, bool deferUpdate, bool ackRequired);
  void Unadvise(uint conversation, const QString& item, uint format);
  void Execute(uint conversation, const QString& command);
  void Poke(uint conversation, const QString& item, uint format, const QByteArray& data);
  void Terminate(uint conversation);

 signals:
  // Declared for introspection; it is sent to one client at a time (see sendData).
  void Data(uint conversation, const QString& item, uint format, const QByteArray& data);

 private:
  // Takes the call over: returns its token and the caller's unique name.
  dde::ReplyToken take(std::string& client);
  // Queues the message's handling behind the modal gate.
  void queue(std::function<void(dde::DdeServer&)> handle);

  DBusDdeTransport::Impl& impl_;
};

struct DBusDdeTransport::Impl {
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  QDBusConnection connection{QDBusConnection::sessionBus()};
  std::string busName;
  dde::DdeServer* server = nullptr;
  std::unique_ptr<DdeBusObject> object;
  std::unique_ptr<QDBusServiceWatcher> watcher;
  std::unique_ptr<QTimer> linkTimer;
  std::set<std::string> watched;
  std::unordered_map<dde::ReplyToken, QDBusMessage> calls;
  dde::ReplyToken nextToken = 1;

  void send(dde::ReplyToken token, const std::function<QDBusMessage(const QDBusMessage&)>& make) {
    auto it = calls.find(token);
    if (it == calls.end()) return;
    connection.send(make(it->second));
    calls.erase(it);
  }

  // A client that opened a conversation is watched, so that its leaving ends them.
  void watch(const std::string& client) {
    if (!watched.insert(client).second) return;
    watcher->addWatchedService(QString::fromStdString(client));
    // It may have left before the watch was in place: ask the bus once, after the watch.
    auto* pending = new QDBusPendingCallWatcher(
        connection.interface()->asyncCall(QStringLiteral("NameHasOwner"), QString::fromStdString(client)),
        watcher.get());
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, watcher.get(),
                     [this, client](QDBusPendingCallWatcher* call) {
                       QDBusPendingReply<bool> reply = *call;
                       if (reply.isValid() && !reply.value()) left(client);
                       call->deleteLater();
                     });
  }

  void left(const std::string& client) {
    if (watched.erase(client) == 0) return;
    watcher->removeWatchedService(QString::fromStdString(client));
    std::weak_ptr<bool> guard = alive;
    postEvent([guard, this, client] {
      if (!guard.expired() && server) server->clientLeft(client);
    });
  }
};

dde::ReplyToken DdeBusObject::take(std::string& client) {
  setDelayedReply(true);
  const QDBusMessage call = message();
  client = call.service().toStdString();
  const dde::ReplyToken token = impl_.nextToken++;
  impl_.calls.emplace(token, call);
  return token;
}

void DdeBusObject::queue(std::function<void(dde::DdeServer&)> handle) {
  // An event still queued when the transport has gone finds its guard expired.
  std::weak_ptr<bool> alive = impl_.alive;
  DBusDdeTransport::Impl* impl = &impl_;
  postEvent([alive, impl, handle = std::move(handle)] {
    if (alive.expired() || !impl->server) return;
    handle(*impl->server);
  });
}

uint DdeBusObject::Initiate(const QString& application, const QString& topic) {
  std::string client;
  const auto token = take(client);
  queue([this, token, client, a = application.toStdString(), t = topic.toStdString()](dde::DdeServer& server) {
    impl_.watch(client);
    server.handleInitiate(token, client, a, t);
  });
  return 0;
}

QByteArray DdeBusObject::Request(uint conversation, const QString& item, uint format) {
  std::string client;
  const auto token = take(client);
  queue([token, client, conversation, i = item.toStdString(), format](dde::DdeServer& server) {
    server.handleRequest(token, client, conversation, i, format);
  });
  return {};
}

void DdeBusObject::Advise(uint conversation, const QString& item, uint format, bool deferUpdate, bool) {
  std::string client;
  const auto token = take(client);
  queue([token, client, conversation, i = item.toStdString(), format, deferUpdate](dde::DdeServer& server) {
    server.handleAdvise(token, client, conversation, i, format, deferUpdate);
  });
}

void DdeBusObject::Unadvise(uint conversation, const QString& item, uint format) {
  std::string client;
  const auto token = take(client);
  queue([token, client, conversation, i = item.toStdString(), format](dde::DdeServer& server) {
    server.handleUnadvise(token, client, conversation, i, format);
  });
}

void DdeBusObject::Execute(uint conversation, const QString& command) {
  std::string client;
  const auto token = take(client);
  queue([token, client, conversation, c = command.left(kCommandKeep).toStdString()](dde::DdeServer& server) {
    server.handleExecute(token, client, conversation, c);
  });
}

void DdeBusObject::Poke(uint conversation, const QString&, uint, const QByteArray&) {
  // The data is not used: only the acknowledgement is queued, not the block.
  std::string client;
  const auto token = take(client);
  queue([token, client, conversation](dde::DdeServer& server) { server.handlePoke(token, client, conversation); });
}

void DdeBusObject::Terminate(uint conversation) {
  std::string client;
  const auto token = take(client);
  queue([token, client, conversation](dde::DdeServer& server) {
    server.handleTerminate(token, client, conversation);
  });
}

DBusDdeTransport::DBusDdeTransport() : impl_(std::make_unique<Impl>()) {}

DBusDdeTransport::~DBusDdeTransport() { close(); }

bool DBusDdeTransport::isStarted() const { return impl_->server != nullptr; }

bool DBusDdeTransport::start(const std::string& service, dde::DdeServer& server, std::string& error) {
  Impl& d = *impl_;
  if (!d.connection.isConnected()) {
    error = "Kelvor found no D-Bus session bus, so it runs without its DDE server.";
    return false;
  }
  d.busName = "dde." + service;
  d.object = std::make_unique<DdeBusObject>(d);
  if (!d.connection.registerObject(kObjectPath, d.object.get(),
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)) {
    error = "Kelvor could not offer its DDE object on the session bus, so it runs without its DDE server.";
    d.object.reset();
    return false;
  }
  if (!d.connection.registerService(QString::fromStdString(d.busName))) {
    error = "Another program already serves DDE as \"" + service + "\" (" + d.busName +
            "), so this Kelvor runs without its DDE server.";
    d.connection.unregisterObject(kObjectPath);
    d.object.reset();
    return false;
  }
  d.server = &server;
  d.watcher = std::make_unique<QDBusServiceWatcher>();
  d.watcher->setConnection(d.connection);
  d.watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  QObject::connect(d.watcher.get(), &QDBusServiceWatcher::serviceUnregistered, d.watcher.get(),
                   [&d](const QString& name) { d.left(name.toStdString()); });
  d.linkTimer = std::make_unique<QTimer>();
  d.linkTimer->setInterval(kLinkTimerMs);
  QObject::connect(d.linkTimer.get(), &QTimer::timeout, d.linkTimer.get(), [&d] {
    if (d.server) d.server->checkLinks();
  });
  d.linkTimer->start();
  return true;
}

void DBusDdeTransport::close() {
  Impl& d = *impl_;
  if (!d.server) return;
  d.linkTimer.reset();
  d.server->close();
  d.server = nullptr;
  d.connection.unregisterService(QString::fromStdString(d.busName));
  d.connection.unregisterObject(kObjectPath);
  d.watcher.reset();
  d.watched.clear();
  // Calls still queued behind the gate find no server and are answered here.
  for (auto& [token, call] : d.calls) {
    d.connection.send(call.createErrorReply(QStringLiteral("dde.Error.Terminated"),
                                            QStringLiteral("The DDE server closed")));
  }
  d.calls.clear();
  // The object may still be named by queued gate events; it lives until the transport ends.
}

void DBusDdeTransport::replyEmpty(dde::ReplyToken token) {
  impl_->send(token, [](const QDBusMessage& call) { return call.createReply(); });
}

void DBusDdeTransport::replyConversation(dde::ReplyToken token, dde::ConversationId conversation) {
  impl_->send(token, [conversation](const QDBusMessage& call) {
    return call.createReply(QVariant::fromValue(static_cast<uint>(conversation)));
  });
}

void DBusDdeTransport::replyData(dde::ReplyToken token, const std::string& block) {
  impl_->send(token, [&block](const QDBusMessage& call) { return call.createReply(QVariant(bytes(block))); });
}

void DBusDdeTransport::replyError(dde::ReplyToken token, dde::DdeError error, const std::string& message) {
  impl_->send(token, [&](const QDBusMessage& call) {
    return call.createErrorReply(QString::fromLatin1(dde::errorName(error)), QString::fromStdString(message));
  });
}

void DBusDdeTransport::sendData(const std::string& client, dde::ConversationId conversation,
                                const std::string& item, std::uint32_t format, const std::string& block) {
  QDBusMessage signal = QDBusMessage::createTargetedSignal(QString::fromStdString(client), kObjectPath,
                                                           kInterface, QStringLiteral("Data"));
  signal << static_cast<uint>(conversation) << QString::fromStdString(item) << static_cast<uint>(format)
         << bytes(block);
  impl_->connection.send(signal);
}

}  // namespace kelvor

#include "dbus_dde_transport.moc"
