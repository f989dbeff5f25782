#include "linux/dde_transport.h"

#include <QByteArray>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>

#include "core/toolkit/modal_gate.h"

#include <dbus/dbus.h>

namespace kelvor {
namespace {

constexpr auto kObjectPath = "/";
constexpr auto kInterface = "dde.Server";
// A little over one second, so that a link with an interval of one second is due at each look.
// A command is cut to 127 characters anyway; no more than this is kept from the bus.
constexpr int kCommandKeep = 254;
// A name is kept to one character more than a DDE name may have: enough for the server to
// refuse it as too long, without copying a megabyte that is refused anyway.
constexpr qsizetype kNameKeep = static_cast<qsizetype>(dde::kMaxNameLength) + 1;
// libdbus stops reading a connection while the messages it has handed out and not yet seen
// freed exceed its receive limit (63 MiB by default). It starts again when they are freed;
// but Kelvor frees them on its main thread, and Qt 6.4 ignores the wake-up that comes from
// there ("Socket notifiers cannot be enabled or disabled from another thread"), so the
// connection would stay deaf for good. Kelvor bounds what it holds itself, far below the
// limit, and lifts the limit out of reach, so that a burst read while the main thread is busy
// cannot trip it either.
constexpr long kReceiveLimit = LONG_MAX / 2;
// What a held message costs beside its arguments.
constexpr std::size_t kMessageBytes = 512;
constexpr auto kBusyText =
    "Kelvor is busy (a window or command holds its DDE messages back, or it has more calls to "
    "handle than it keeps) and holds as many of yours as it keeps; try again later";

std::string name(const QString& s) { return s.left(kNameKeep).toStdString(); }

// The memory a held call takes: the message as it arrived (text at one byte a character,
// more for characters beyond ASCII) and its decoded arguments (text at two bytes a
// character, data as it is).
std::size_t heldBytes(const QDBusMessage& call) {
  std::size_t bytes = kMessageBytes;
  for (const QVariant& argument : call.arguments()) {
    if (argument.metaType().id() == QMetaType::QString) {
      bytes += 3 * static_cast<std::size_t>(argument.toString().size());
    } else if (argument.metaType().id() == QMetaType::QByteArray) {
      bytes += 2 * static_cast<std::size_t>(argument.toByteArray().size());
    }
  }
  return bytes;
}

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

// The object on the bus. It lives on a thread of its own, the door, so that what Qt's bus
// thread takes from the bus is looked at at once, however long the main thread is held: each
// slot takes the call's message (valid only inside the slot), marks the reply as delayed and
// either answers Busy there and then, when the caller or everyone has as many calls on their
// way to the main thread as Kelvor keeps, or hands the call to the main thread. Without the
// door, Qt queues every call for the main thread without a bound.
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
  struct Call {
    QDBusMessage message;
    dde::ReplyToken token = 0;
    std::string client;  // the caller's unique bus name
    std::size_t bytes = 0;
  };
  // On the door's thread: counts the call as on its way, or answers it Busy beyond the bounds
  // and returns false.
  bool admit(Call& call);
  // Runs `onMain` on the main thread, where the call stops being on its way.
  void handOn(const Call& call, std::function<void(Call&)> onMain);
  // On the main thread: takes the call over. When it would wait behind the gate, answers at
  // once what can be decided at once and what exceeds the bounds; returns false then.
  bool take(Call& call, dde::Method method, uint conversation = 0, std::string_view item = {},
            std::string_view topic = {}, uint format = 0);
  // Queues the call's handling behind the modal gate.
  void queue(const Call& call, std::function<void(dde::DdeServer&)> handle);

  DBusDdeTransport::Impl& impl_;
};

struct DBusDdeTransport::Impl {
  explicit Impl(DBusDdeTransport& transport) : owner(&transport) {}
  DBusDdeTransport* owner;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  QDBusConnection connection{QDBusConnection::sessionBus()};
  std::string busName;
  dde::DdeServer* server = nullptr;
  QThread door;      // declared first: the object goes before its thread
  QObject mainSide;  // where calls handed on from the door run
  std::unique_ptr<DdeBusObject> object;
  std::unique_ptr<QDBusServiceWatcher> watcher;
  std::set<std::string> watched;
  std::unordered_map<dde::ReplyToken, QDBusMessage> calls;
  dde::ReplyToken nextToken = 1;
  // What waits behind the gate, per client and in all.
  struct Waiting {
    std::size_t calls = 0;
    std::size_t bytes = 0;
  };
  std::unordered_map<std::string, Waiting> waiting;
  Waiting waitingTotal;
  // Calls the door has handed on and the main thread not yet taken up, per client and in
  // all; shared by the two threads.
  std::mutex onTheirWayMutex;
  std::unordered_map<std::string, Waiting> onTheirWay;
  Waiting onTheirWayTotal;

  bool setOnTheirWay(const std::string& client, std::size_t bytes) {
    std::lock_guard lock(onTheirWayMutex);
    Waiting& mine = onTheirWay[client];
    if (mine.calls >= kMaxCallsOnTheirWayPerClient || mine.bytes + bytes > kMaxBytesOnTheirWayPerClient ||
        onTheirWayTotal.calls >= kMaxCallsOnTheirWay || onTheirWayTotal.bytes + bytes > kMaxBytesOnTheirWay) {
      if (mine.calls == 0) onTheirWay.erase(client);
      return false;
    }
    ++mine.calls;
    mine.bytes += bytes;
    ++onTheirWayTotal.calls;
    onTheirWayTotal.bytes += bytes;
    return true;
  }
  void arrived(const std::string& client, std::size_t bytes) {
    std::lock_guard lock(onTheirWayMutex);
    auto it = onTheirWay.find(client);
    if (it != onTheirWay.end()) {
      --it->second.calls;
      it->second.bytes -= bytes;
      if (it->second.calls == 0) onTheirWay.erase(it);
      --onTheirWayTotal.calls;
      onTheirWayTotal.bytes -= bytes;
    }
  }
  bool mayWait(const std::string& client, std::size_t bytes) const {
    auto it = waiting.find(client);
    const Waiting mine = it == waiting.end() ? Waiting{} : it->second;
    return mine.calls < kMaxWaitingCallsPerClient && mine.bytes + bytes <= kMaxWaitingBytesPerClient &&
           waitingTotal.calls < kMaxWaitingCalls && waitingTotal.bytes + bytes <= kMaxWaitingBytes;
  }
  void startWaiting(const std::string& client, std::size_t bytes) {
    Waiting& mine = waiting[client];
    ++mine.calls;
    mine.bytes += bytes;
    ++waitingTotal.calls;
    waitingTotal.bytes += bytes;
  }
  void endWaiting(const std::string& client, std::size_t bytes) {
    auto it = waiting.find(client);
    if (it == waiting.end()) return;
    --it->second.calls;
    it->second.bytes -= bytes;
    if (it->second.calls == 0) waiting.erase(it);
    --waitingTotal.calls;
    waitingTotal.bytes -= bytes;
  }

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

bool DdeBusObject::admit(Call& call) {
  setDelayedReply(true);
  call.message = message();
  call.client = call.message.service().toStdString();
  call.bytes = heldBytes(call.message);
  if (impl_.setOnTheirWay(call.client, call.bytes)) return true;
  connection().send(
      call.message.createErrorReply(QString::fromLatin1(dde::errorName(dde::DdeError::Busy)), QString(kBusyText)));
  return false;
}

void DdeBusObject::handOn(const Call& call, std::function<void(Call&)> onMain) {
  DBusDdeTransport::Impl* impl = &impl_;
  QMetaObject::invokeMethod(
      &impl_.mainSide,
      [impl, call, onMain = std::move(onMain)] {
        impl->arrived(call.client, call.bytes);
        if (!impl->server) {
          impl->connection.send(call.message.createErrorReply(QStringLiteral("dde.Error.Terminated"),
                                                              QStringLiteral("The DDE server closed")));
          return;
        }
        Call taken = call;
        onMain(taken);
      },
      Qt::QueuedConnection);
}

bool DdeBusObject::take(Call& call, dde::Method method, uint conversation, std::string_view item,
                        std::string_view topic, uint format) {
  call.token = impl_.nextToken++;
  impl_.calls.emplace(call.token, call.message);
  const bool waits = !modalGate().isOpen() || modalGate().queuedCount() > 0;
  if (!waits || !impl_.server) return true;
  DBusDdeTransport& transport = *impl_.owner;
  if (auto refused = impl_.server->refusal(method, call.client, conversation, item, topic, format)) {
    transport.replyError(call.token, refused->error, refused->message);
    return false;
  }
  if (!impl_.mayWait(call.client, call.bytes)) {
    transport.replyError(call.token, dde::DdeError::Busy, kBusyText);
    return false;
  }
  return true;
}

void DdeBusObject::queue(const Call& call, std::function<void(dde::DdeServer&)> handle) {
  impl_.startWaiting(call.client, call.bytes);
  // An event still queued when the transport has gone finds its guard expired.
  std::weak_ptr<bool> alive = impl_.alive;
  DBusDdeTransport::Impl* impl = &impl_;
  postEvent([alive, impl, client = call.client, bytes = call.bytes, handle = std::move(handle)] {
    if (alive.expired()) return;
    impl->endWaiting(client, bytes);
    if (impl->server) handle(*impl->server);
  });
}

uint DdeBusObject::Initiate(const QString& application, const QString& topic) {
  Call call;
  if (!admit(call)) return 0;
  handOn(call, [this, a = name(application), t = name(topic)](Call& call) {
    if (!take(call, dde::Method::Initiate, 0, a, t)) return;
    queue(call, [this, call, a, t](dde::DdeServer& server) {
      impl_.watch(call.client);
      server.handleInitiate(call.token, call.client, a, t);
    });
  });
  return 0;
}

QByteArray DdeBusObject::Request(uint conversation, const QString& item, uint format) {
  Call call;
  if (!admit(call)) return {};
  handOn(call, [this, conversation, i = name(item), format](Call& call) {
    if (!take(call, dde::Method::Request, conversation, i, {}, format)) return;
    queue(call, [call, conversation, i, format](dde::DdeServer& server) {
      server.handleRequest(call.token, call.client, conversation, i, format);
    });
  });
  return {};
}

void DdeBusObject::Advise(uint conversation, const QString& item, uint format, bool deferUpdate, bool) {
  Call call;
  if (!admit(call)) return;
  handOn(call, [this, conversation, i = name(item), format, deferUpdate](Call& call) {
    if (!take(call, dde::Method::Advise, conversation, i, {}, format)) return;
    queue(call, [call, conversation, i, format, deferUpdate](dde::DdeServer& server) {
      server.handleAdvise(call.token, call.client, conversation, i, format, deferUpdate);
    });
  });
}

void DdeBusObject::Unadvise(uint conversation, const QString& item, uint format) {
  Call call;
  if (!admit(call)) return;
  handOn(call, [this, conversation, i = name(item), format](Call& call) {
    if (!take(call, dde::Method::Unadvise, conversation, i, {}, format)) return;
    queue(call, [call, conversation, i, format](dde::DdeServer& server) {
      server.handleUnadvise(call.token, call.client, conversation, i, format);
    });
  });
}

void DdeBusObject::Execute(uint conversation, const QString& command) {
  Call call;
  if (!admit(call)) return;
  handOn(call, [this, conversation, c = command.left(kCommandKeep).toStdString()](Call& call) {
    if (!take(call, dde::Method::Execute, conversation)) return;
    queue(call, [call, conversation, c](dde::DdeServer& server) {
      server.handleExecute(call.token, call.client, conversation, c);
    });
  });
}

void DdeBusObject::Poke(uint conversation, const QString&, uint, const QByteArray&) {
  // The data is not used: only the acknowledgement is queued, not the block.
  Call call;
  if (!admit(call)) return;
  handOn(call, [this, conversation](Call& call) {
    if (!take(call, dde::Method::Poke, conversation)) return;
    queue(call, [call, conversation](dde::DdeServer& server) { server.handlePoke(call.token, call.client, conversation); });
  });
}

void DdeBusObject::Terminate(uint conversation) {
  Call call;
  if (!admit(call)) return;
  handOn(call, [this, conversation](Call& call) {
    if (!take(call, dde::Method::Terminate, conversation)) return;
    queue(call, [call, conversation](dde::DdeServer& server) {
      server.handleTerminate(call.token, call.client, conversation);
    });
  });
}

DBusDdeTransport::DBusDdeTransport() : impl_(std::make_unique<Impl>(*this)) {}

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
  // Moved once registered, so that the helper Qt gives it as a child goes along.
  d.object->moveToThread(&d.door);
  d.door.start();
  dbus_connection_set_max_received_size(static_cast<DBusConnection*>(d.connection.internalPointer()),
                                        kReceiveLimit);
  d.watcher = std::make_unique<QDBusServiceWatcher>();
  d.watcher->setConnection(d.connection);
  d.watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  QObject::connect(d.watcher.get(), &QDBusServiceWatcher::serviceUnregistered, d.watcher.get(),
                   [&d](const QString& name) { d.left(name.toStdString()); });
  return true;
}

bool isBusServiceName(std::string_view name) {
  // A bus name is at most 255 characters, and "dde." takes four of them.
  if (name.empty() || name.size() > 251 || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9') && c != '_' && c != '-') return false;
  }
  return true;
}

bool DBusDdeTransport::isServiceName(std::string_view name, std::string& rule) const {
  rule = "a name is made of letters, digits, \"_\" and \"-\", does not begin with a digit and has at most 251 "
         "characters";
  return isBusServiceName(name);
}

void DBusDdeTransport::close() {
  Impl& d = *impl_;
  if (!d.server) return;
  d.server->close();
  d.server = nullptr;
  d.connection.unregisterService(QString::fromStdString(d.busName));
  d.connection.unregisterObject(kObjectPath);
  d.door.quit();
  d.door.wait();
  d.watcher.reset();
  d.watched.clear();
  // Calls still queued behind the gate find no server and are answered here.
  for (auto& [token, call] : d.calls) {
    d.connection.send(call.createErrorReply(QStringLiteral("dde.Error.Terminated"),
                                            QStringLiteral("The DDE server closed")));
  }
  d.calls.clear();
  d.waiting.clear();
  d.waitingTotal = {};
  {
    std::lock_guard lock(d.onTheirWayMutex);
    d.onTheirWay.clear();
    d.onTheirWayTotal = {};
  }
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

#include "dde_transport.moc"
