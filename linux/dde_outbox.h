#pragma once
// What the DDE server sends on the bus, waiting for its turn: the messages themselves and the
// few answers that need no more than their call's serial to be made.

#include <dbus/dbus.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace kelvor {

// Text as the bus takes it: valid UTF-8 (libdbus aborts on anything else) without NUL, each
// byte that does not belong to a character, and each NUL, given as U+FFFD.
std::string busText(std::string_view text);

// An answer of `type` to the call `serial` of `client`, made without the call itself, so that
// a call waiting for its answer holds only these two. nullptr when out of memory.
DBusMessage* busAnswer(int type, const std::string& client, dbus_uint32_t serial);
DBusMessage* busErrorAnswer(const std::string& client, dbus_uint32_t serial, const char* name,
                            std::string_view text);

// What waits for one client, as counted: a message at 512 bytes and its data, an answer
// that waits as its serial at 32. A client that sends faster than it takes up its answers
// (or never reads them) meets this bound, with or without the bus's help in holding them.
constexpr std::size_t kMaxOutboxBytesPerClient = 16u << 20;
constexpr std::size_t kOutboxMessageBytes = 512;
constexpr std::size_t kOutboxSerialBytes = 32;

// What waits to be sent, per client, taken out in turn: one message of each client with
// something to send, then the next round. An acknowledgement and a Busy answer wait as
// their call's serial only (16 bytes), so that a flood costs little while it waits.
//
// What waits for one client is bounded: at the bound, what more there is for it is dropped
// and the client is full until what waits for it has gone down to half the bound; its
// calls are not taken meanwhile (an answer would only add to what waits).
class Outbox {
 public:
  enum class Kind : std::uint8_t { Message, Acknowledgement, Busy };

  explicit Outbox(std::size_t boundPerClient = kMaxOutboxBytesPerClient) : bound_(boundPerClient) {}
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;
  ~Outbox() { clear(); }

  // Takes `message` over (nullptr, when it could not be made, is dropped); `data` is the size
  // of what it carries. Returns true when this made the client full for the first time since
  // it came (to be told once).
  bool push(const std::string& client, DBusMessage* message, std::size_t data = 0) {
    if (message == nullptr) return false;
    return add(client, {message, 0, Kind::Message, kOutboxMessageBytes + data});
  }
  bool push(const std::string& client, dbus_uint32_t serial, Kind kind) {
    return add(client, {nullptr, serial, kind, kOutboxSerialBytes});
  }

  // The next message in turn, owned by the caller; nullptr when nothing waits.
  DBusMessage* next();

  // Whether the client's calls are to be left alone: what waits for it is at its bound.
  bool full(const std::string& client) {
    std::lock_guard lock(mutex_);
    auto it = queues_.find(client);
    return it != queues_.end() && it->second.full;
  }

  // Drops what waits for a client that has left the bus.
  void forget(const std::string& client) {
    std::lock_guard lock(mutex_);
    told_.erase(client);
    auto it = queues_.find(client);
    if (it == queues_.end()) return;
    release(it->second.items);
    queues_.erase(it);
  }

  bool empty() {
    std::lock_guard lock(mutex_);
    return queues_.empty();
  }

  void clear() {
    std::lock_guard lock(mutex_);
    for (auto& [client, queue] : queues_) release(queue.items);
    queues_.clear();
    turn_.clear();
    told_.clear();
  }

 private:
  struct Item {
    DBusMessage* message;
    dbus_uint32_t serial;
    Kind kind;
    std::size_t bytes;
  };
  struct Queue {
    std::deque<Item> items;
    std::size_t bytes = 0;
    bool full = false;
  };
  bool add(const std::string& client, Item item);
  static void release(std::deque<Item>& items) {
    for (const Item& item : items) {
      if (item.message != nullptr) dbus_message_unref(item.message);
    }
  }

  const std::size_t bound_;
  std::mutex mutex_;
  std::unordered_map<std::string, Queue> queues_;
  std::deque<std::string> turn_;  // the clients with something to send, in turn
  std::unordered_set<std::string> told_;  // clients that were full since they came
};

}  // namespace kelvor
