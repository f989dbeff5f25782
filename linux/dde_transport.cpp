#include "linux/dde_transport.h"

#include <dbus/dbus.h>
#include <malloc.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/toolkit/modal_gate.h"
#include "linux/dde_calls.h"
#include "linux/dde_outbox.h"

namespace kelvor {
namespace {

static_assert(kLargestCall == kMaxBytesOnTheirWayPerClient, "a call that fits a client's share is taken");

// The socket to the bus holds no more than a few messages that the bus has not read yet:
// beyond them, what is to be sent waits in the outbox, where a client's turn still counts.
constexpr int kSocketSendBuffer = 8192;
// At closing, what is still to be sent is given this long to go out.
constexpr auto kClosingFlush = std::chrono::seconds(1);
// After a flood, the memory it took is given back to the system once everything is sent: what
// clients send arrives in small pieces, which the allocator would otherwise keep for good.
constexpr std::size_t kCallsBeforeGivingBack = 4096;
constexpr int kGiveBackCheckMs = 2000;
constexpr auto kLeftRule =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg2=''";
bool appendBytes(DBusMessage* m, const std::string& block) {
  const char* data = block.data();
  return dbus_message_append_args(m, DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE, &data, static_cast<int>(block.size()),
                                   DBUS_TYPE_INVALID);
}

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

struct DBusDdeTransport::Impl final : BusMessageSink {
  explicit Impl(DBusDdeTransport& transport) : owner(&transport) {
    QObject::connect(&giveBack, &QTimer::timeout, &mainSide, [this] { giveMemoryBack(); });
  }

  // A call on its way from the wire to the main thread.
  struct Call : BusCall {
    dde::ReplyToken token = 0;
  };
  // An answer the main thread still owes.
  struct Owed {
    std::string client;
    dbus_uint32_t serial = 0;
  };
  struct Waiting {
    std::size_t calls = 0;
    std::size_t bytes = 0;
  };

  DBusDdeTransport* owner;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  std::string busName;
  dde::DdeServer* server = nullptr;
  QObject mainSide;  // where calls handed on from the wire run

  // Main thread only.
  std::unordered_map<dde::ReplyToken, Owed> calls;
  dde::ReplyToken nextToken = 1;
  std::unordered_map<std::string, Waiting> waiting;  // behind the gate, per client
  Waiting waitingTotal;
  std::set<std::string> known;  // clients whose calls reached the main thread
  QTimer giveBack;

  // Shared by the wire and the main thread.
  DBusConnection* connection = nullptr;
  Outbox outbox;
  int wake = -1;  // an eventfd: something to send, or time to stop
  std::atomic<bool> stopping{false};
  std::thread wire;
  std::mutex onTheirWayMutex;
  std::unordered_map<std::string, Waiting> onTheirWay;
  Waiting onTheirWayTotal;
  std::atomic<std::size_t> churn{0};  // calls, and clients leaving, since memory was given back

  // The wire's only: libdbus's watches of the socket.
  std::vector<DBusWatch*> watches;

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

  void send(const std::string& client, DBusMessage* message, std::size_t data = 0) {
    if (outbox.push(client, message, data)) tellFull(client);
    wakeWire();
  }
  static void tellFull(const std::string& client) {
    std::fprintf(stderr,
                 "kelvor: DDE: the D-Bus client %s does not take up its answers as fast as it calls; what "
                 "more there is for it is dropped, and its calls are left unanswered until it catches up\n",
                 client.c_str());
  }
  // Gives back what a flood took, once it is over: the allocator's free pages and the room
  // the emptied tables keep.
  void giveMemoryBack() {
    if (churn < kCallsBeforeGivingBack || !outbox.empty()) return;
    churn = 0;
    if (calls.empty()) calls.rehash(0);
    {
      std::lock_guard lock(onTheirWayMutex);
      if (onTheirWay.empty()) onTheirWay.rehash(0);
    }
    ::malloc_trim(0);
  }
  void wakeWire() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
  }
  // A client that has left the bus is answered no more: the ending of its conversations
  // would otherwise send an answer for each of its pending requests to nobody.
  bool gone(const std::string& client) const { return known.count(client) == 0; }
  // Answers the call `token` with an acknowledgement or Busy, which wait as its serial.
  void reply(dde::ReplyToken token, Outbox::Kind kind) {
    auto it = calls.find(token);
    if (it == calls.end()) return;
    if (gone(it->second.client)) {
      calls.erase(it);
      return;
    }
    if (outbox.push(it->second.client, it->second.serial, kind)) tellFull(it->second.client);
    wakeWire();
    calls.erase(it);
  }
  // Answers the call `token` with what `make` builds from the caller and the call's serial.
  void reply(dde::ReplyToken token, const std::function<DBusMessage*(const std::string&, dbus_uint32_t)>& make,
             std::size_t data = 0) {
    auto it = calls.find(token);
    if (it == calls.end()) return;
    if (gone(it->second.client)) {
      calls.erase(it);
      return;
    }
    send(it->second.client, make(it->second.client, it->second.serial), data);
    calls.erase(it);
  }

  // --- On the wire.
  void run();
  void sendInTurn();
  // What dispatchBusMessage decides.
  void call(BusCall&& call) override;
  void answer(const std::string& client, DBusMessage* message) override { send(client, message); }
  // The client has left the bus: what waits to be sent to it goes, its conversations end.
  void left(const std::string& client) override;
  // Counts the call as on its way, or answers it Busy and returns false.
  bool admit(const Call& call);
  // Runs the call's handling on the main thread, where the call stops being on its way.
  void handOn(const Call& call);

  // --- On the main thread.
  // Takes the call over. When it would wait behind the gate, answers at once what can be
  // decided at once and what exceeds the bounds; returns false then.
  bool take(Call& call);
  // Queues the call's handling behind the modal gate.
  void queue(const Call& call, std::function<void(dde::DdeServer&)> handle);
};

void DBusDdeTransport::Impl::run() {
  std::vector<pollfd> fds;
  std::vector<DBusWatch*> polled;
  std::chrono::steady_clock::time_point flushUntil{};
  while (true) {
    while (dbus_connection_dispatch(connection) == DBUS_DISPATCH_DATA_REMAINS) {
    }
    sendInTurn();
    if (stopping) {
      if (flushUntil == std::chrono::steady_clock::time_point{}) {
        flushUntil = std::chrono::steady_clock::now() + kClosingFlush;
      }
      const bool sent = outbox.empty() && !dbus_connection_has_messages_to_send(connection);
      if (sent || std::chrono::steady_clock::now() >= flushUntil || !dbus_connection_get_is_connected(connection)) {
        return;
      }
    }
    fds.clear();
    polled.clear();
    for (DBusWatch* watch : watches) {
      if (!dbus_watch_get_enabled(watch)) continue;
      const unsigned flags = dbus_watch_get_flags(watch);
      short events = 0;
      if (flags & DBUS_WATCH_READABLE) events |= POLLIN;
      if (flags & DBUS_WATCH_WRITABLE) events |= POLLOUT;
      fds.push_back({dbus_watch_get_unix_fd(watch), events, 0});
      polled.push_back(watch);
    }
    fds.push_back({wake, POLLIN, 0});
    const int timeout = stopping ? 20 : -1;
    if (::poll(fds.data(), fds.size(), timeout) < 0) continue;
    if (fds.back().revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] const auto read = ::read(wake, &count, sizeof count);
    }
    for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
      const short revents = fds[i].revents;
      if (revents == 0 || std::find(watches.begin(), watches.end(), polled[i]) == watches.end()) continue;
      unsigned flags = 0;
      if (revents & POLLIN) flags |= DBUS_WATCH_READABLE;
      if (revents & POLLOUT) flags |= DBUS_WATCH_WRITABLE;
      if (revents & POLLHUP) flags |= DBUS_WATCH_HANGUP;
      if (revents & POLLERR) flags |= DBUS_WATCH_ERROR;
      dbus_watch_handle(polled[i], flags);
    }
  }
}

// Hands the bus the next messages in turn while it takes them at once: the one it could not
// write yet stays in libdbus until the socket has room, and the rest wait here.
void DBusDdeTransport::Impl::sendInTurn() {
  while (!dbus_connection_has_messages_to_send(connection)) {
    DBusMessage* message = outbox.next();
    if (message == nullptr) return;
    dbus_connection_send(connection, message, nullptr);
    dbus_message_unref(message);
  }
}

void DBusDdeTransport::Impl::call(BusCall&& decoded) {
  ++churn;
  // What waits for this client is at its bound: it does not read its answers, and another
  // answer would only add to them. The bus holds the call (within its own bounds).
  if (outbox.full(decoded.client)) return;
  Call call;
  static_cast<BusCall&>(call) = std::move(decoded);
  if (admit(call)) handOn(call);
}

bool DBusDdeTransport::Impl::admit(const Call& call) {
  if (setOnTheirWay(call.client, call.bytes)) return true;
  if (outbox.push(call.client, call.serial, Outbox::Kind::Busy)) tellFull(call.client);
  return false;
}

void DBusDdeTransport::Impl::handOn(const Call& call) {
  QMetaObject::invokeMethod(
      &mainSide,
      [this, call] {
        arrived(call.client, call.bytes);
        if (!server) return;  // closed: the bus tells the caller when the connection goes
        known.insert(call.client);
        Call taken = call;
        if (!take(taken)) return;
        queue(taken, [taken](dde::DdeServer& server) {
          using dde::Method;
          switch (taken.method) {
            case Method::Initiate: server.handleInitiate(taken.token, taken.client, taken.item, taken.topic); break;
            case Method::Request:
              server.handleRequest(taken.token, taken.client, taken.conversation, taken.item, taken.format);
              break;
            case Method::Unadvise:
              server.handleUnadvise(taken.token, taken.client, taken.conversation, taken.item, taken.format);
              break;
            case Method::Advise:
              server.handleAdvise(taken.token, taken.client, taken.conversation, taken.item, taken.format,
                                  taken.deferUpdate);
              break;
            case Method::Execute: server.handleExecute(taken.token, taken.client, taken.conversation, taken.command); break;
            case Method::Poke: server.handlePoke(taken.token, taken.client, taken.conversation); break;
            case Method::Terminate: server.handleTerminate(taken.token, taken.client, taken.conversation); break;
          }
        });
      },
      Qt::QueuedConnection);
}

void DBusDdeTransport::Impl::left(const std::string& client) {
  outbox.forget(client);
  churn += kCallsBeforeGivingBack;
  std::weak_ptr<bool> guard = alive;
  QMetaObject::invokeMethod(
      &mainSide,
      [this, guard, client] {
        if (guard.expired() || known.erase(client) == 0) return;
        postEvent([guard, this, client] {
          if (!guard.expired() && server) server->clientLeft(client);
        });
      },
      Qt::QueuedConnection);
}

bool DBusDdeTransport::Impl::take(Call& call) {
  call.token = nextToken++;
  calls.emplace(call.token, Owed{call.client, call.serial});
  const bool waits = !modalGate().isOpen() || modalGate().queuedCount() > 0;
  if (!waits || !server) return true;
  if (auto refused = server->refusal(call.method, call.client, call.conversation, call.item, call.topic, call.format)) {
    owner->replyError(call.token, refused->error, refused->message);
    return false;
  }
  if (!mayWait(call.client, call.bytes)) {
    reply(call.token, Outbox::Kind::Busy);
    return false;
  }
  return true;
}

void DBusDdeTransport::Impl::queue(const Call& call, std::function<void(dde::DdeServer&)> handle) {
  startWaiting(call.client, call.bytes);
  // An event still queued when the transport has gone finds its guard expired.
  std::weak_ptr<bool> guard = alive;
  postEvent([guard, this, client = call.client, bytes = call.bytes, handle = std::move(handle)] {
    if (guard.expired()) return;
    endWaiting(client, bytes);
    if (server) handle(*server);
  });
}

namespace {

dbus_bool_t addWatch(DBusWatch* watch, void* data) {
  static_cast<DBusDdeTransport::Impl*>(data)->watches.push_back(watch);
  return TRUE;
}
void removeWatch(DBusWatch* watch, void* data) {
  auto& watches = static_cast<DBusDdeTransport::Impl*>(data)->watches;
  watches.erase(std::remove(watches.begin(), watches.end(), watch), watches.end());
}
// An enabled or disabled watch is seen at the wire's next look; a change made off the wire
// (a send from another thread) wakes it.
void toggleWatch(DBusWatch*, void* data) { static_cast<DBusDdeTransport::Impl*>(data)->wakeWire(); }

DBusHandlerResult filter(DBusConnection*, DBusMessage* message, void* data) {
  return dispatchBusMessage(message, *static_cast<DBusDdeTransport::Impl*>(data));
}

}  // namespace

DBusDdeTransport::DBusDdeTransport() : impl_(std::make_unique<Impl>(*this)) {}

DBusDdeTransport::~DBusDdeTransport() { close(); }

bool DBusDdeTransport::isStarted() const { return impl_->server != nullptr; }

bool DBusDdeTransport::start(const std::string& service, dde::DdeServer& server, std::string& error) {
  Impl& d = *impl_;
  DBusError failure;
  dbus_error_init(&failure);
  DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &failure);
  dbus_error_free(&failure);
  if (connection == nullptr) {
    error = "Kelvor found no D-Bus session bus, so it runs without its DDE server.";
    return false;
  }
  dbus_connection_set_exit_on_disconnect(connection, FALSE);
  auto giveUp = [&](std::string why) {
    dbus_error_free(&failure);
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    error = std::move(why);
    return false;
  };
  d.busName = "dde." + service;
  const int owner = dbus_bus_request_name(connection, d.busName.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &failure);
  if (owner != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
    return giveUp("Another program already serves DDE as \"" + service + "\" (" + d.busName +
                  "), so this Kelvor runs without its DDE server.");
  }
  dbus_bus_add_match(connection, kLeftRule, &failure);
  const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (dbus_error_is_set(&failure) || wake < 0 ||
      !dbus_connection_add_filter(connection, filter, &d, nullptr) ||
      !dbus_connection_set_watch_functions(connection, addWatch, removeWatch, toggleWatch, &d, nullptr)) {
    if (wake >= 0) ::close(wake);
    return giveUp("Kelvor could not offer its DDE object on the session bus, so it runs without its DDE server.");
  }
  int socket = -1;
  if (dbus_connection_get_socket(connection, &socket)) {
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kSocketSendBuffer, sizeof kSocketSendBuffer);
  }
  d.connection = connection;
  d.wake = wake;
  d.server = &server;
  d.stopping = false;
  d.wire = std::thread([&d] { d.run(); });
  d.churn = 0;
  d.giveBack.start(kGiveBackCheckMs);
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
  d.giveBack.stop();
  d.server->close();
  d.server = nullptr;
  // Calls still queued behind the gate find no server and are answered here.
  for (auto& [token, call] : d.calls) {
    d.outbox.push(call.client,
                  busErrorAnswer(call.client, call.serial, "dde.Error.Terminated", "The DDE server closed"));
  }
  d.calls.clear();
  d.waiting.clear();
  d.waitingTotal = {};
  d.known.clear();
  d.stopping = true;
  d.wakeWire();
  d.wire.join();
  // Closing the connection gives up the name; the bus answers what is left unanswered.
  dbus_connection_close(d.connection);
  dbus_connection_unref(d.connection);
  d.connection = nullptr;
  d.outbox.clear();
  d.watches.clear();
  ::close(d.wake);
  d.wake = -1;
  {
    std::lock_guard lock(d.onTheirWayMutex);
    d.onTheirWay.clear();
    d.onTheirWayTotal = {};
  }
  // The object may still be named by queued gate events; it lives until the transport ends.
}

void DBusDdeTransport::replyEmpty(dde::ReplyToken token) { impl_->reply(token, Outbox::Kind::Acknowledgement); }

void DBusDdeTransport::replyConversation(dde::ReplyToken token, dde::ConversationId conversation) {
  impl_->reply(token, [conversation](const std::string& client, dbus_uint32_t serial) {
    DBusMessage* m = busAnswer(DBUS_MESSAGE_TYPE_METHOD_RETURN, client, serial);
    const dbus_uint32_t id = static_cast<dbus_uint32_t>(conversation);
    if (m != nullptr && !dbus_message_append_args(m, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID)) {
      dbus_message_unref(m);
      return static_cast<DBusMessage*>(nullptr);
    }
    return m;
  });
}

void DBusDdeTransport::replyData(dde::ReplyToken token, const std::string& block) {
  impl_->reply(token, [&block](const std::string& client, dbus_uint32_t serial) {
    DBusMessage* m = busAnswer(DBUS_MESSAGE_TYPE_METHOD_RETURN, client, serial);
    if (m != nullptr && !appendBytes(m, block)) {
      dbus_message_unref(m);
      return static_cast<DBusMessage*>(nullptr);
    }
    return m;
  }, block.size());
}

void DBusDdeTransport::replyError(dde::ReplyToken token, dde::DdeError error, const std::string& message) {
  impl_->reply(token, [&](const std::string& client, dbus_uint32_t serial) {
    return busErrorAnswer(client, serial, dde::errorName(error), message);
  });
}

// A Data signal has no answer on the bus, so an advise never asks for one (Advise's
// ackRequired is not used) and `ackRequested` is never set here.
void DBusDdeTransport::sendData(const std::string& client, dde::ConversationId conversation,
                                const std::string& item, std::uint32_t format, const std::string& block,
                                bool /*ackRequested*/) {
  if (!impl_->server) return;
  DBusMessage* m = dbus_message_new_signal(kDdeObjectPath, kDdeInterface, "Data");
  if (m == nullptr) return;
  const dbus_uint32_t id = static_cast<dbus_uint32_t>(conversation), form = format;
  const std::string validItem = busText(item);
  const char* name = validItem.c_str();
  if (!dbus_message_set_destination(m, client.c_str()) ||
      !dbus_message_append_args(m, DBUS_TYPE_UINT32, &id, DBUS_TYPE_STRING, &name, DBUS_TYPE_UINT32, &form,
                                DBUS_TYPE_INVALID) ||
      !appendBytes(m, block)) {
    dbus_message_unref(m);
    return;
  }
  impl_->send(client, m, block.size());
}

}  // namespace kelvor
