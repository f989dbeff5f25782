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

namespace kelvor {

// Text as the bus takes it: valid UTF-8 (libdbus aborts on anything else) without NUL, each
// byte that does not belong to a character, and each NUL, given as U+FFFD.
std::string busText(std::string_view text);

// An answer of `type` to the call `serial` of `client`, made without the call itself, so that
// a call waiting for its answer holds only these two. nullptr when out of memory.
DBusMessage* busAnswer(int type, const std::string& client, dbus_uint32_t serial);
DBusMessage* busErrorAnswer(const std::string& client, dbus_uint32_t serial, const char* name,
                            std::string_view text);

// What waits to be sent, per client, taken out in turn: one message of each client with
// something to send, then the next round. An acknowledgement and a Busy answer wait as
// their call's serial only (16 bytes), so that a flood costs little while it waits.
class Outbox {
 public:
  enum class Kind : std::uint8_t { Message, Acknowledgement, Busy };

  Outbox() = default;
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;
  ~Outbox() { clear(); }

  // Takes `message` over (nullptr, when it could not be made, is dropped).
  void push(const std::string& client, DBusMessage* message) {
    if (message != nullptr) add(client, {message, 0, Kind::Message});
  }
  void push(const std::string& client, dbus_uint32_t serial, Kind kind) { add(client, {nullptr, serial, kind}); }

  // The next message in turn, owned by the caller; nullptr when nothing waits.
  DBusMessage* next();

  // Drops what waits for a client that has left the bus.
  void forget(const std::string& client) {
    std::lock_guard lock(mutex_);
    auto it = queues_.find(client);
    if (it == queues_.end()) return;
    release(it->second);
    queues_.erase(it);
  }

  bool empty() {
    std::lock_guard lock(mutex_);
    return queues_.empty();
  }

  void clear() {
    std::lock_guard lock(mutex_);
    for (auto& [client, items] : queues_) release(items);
    queues_.clear();
    turn_.clear();
  }

 private:
  struct Item {
    DBusMessage* message;
    dbus_uint32_t serial;
    Kind kind;
  };
  void add(const std::string& client, Item item) {
    std::lock_guard lock(mutex_);
    auto [it, added] = queues_.try_emplace(client);
    if (added) turn_.push_back(client);
    it->second.push_back(item);
  }
  static void release(std::deque<Item>& items) {
    for (const Item& item : items) {
      if (item.message != nullptr) dbus_message_unref(item.message);
    }
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::deque<Item>> queues_;
  std::deque<std::string> turn_;  // the clients with something to send, in turn
};

}  // namespace kelvor
