#include "linux/dde_outbox.h"

#include "core/dde/dde_server.h"
#include "core/toolkit/encoding.h"

namespace kelvor {
namespace {

constexpr auto kBusyText =
    "Kelvor is busy (a window or command holds its DDE messages back, or it has more calls to "
    "handle than it keeps) and holds as many of yours as it keeps; try again later";

}  // namespace

std::string busText(std::string_view text) {
  std::string out;
  for (const char c : replaceInvalidUtf8(text)) {
    // A NUL would end the text early, where libdbus reads it as a C string.
    if (c == '\0') {
      out += "\xEF\xBF\xBD";
    } else {
      out += c;
    }
  }
  return out;
}

DBusMessage* busAnswer(int type, const std::string& client, dbus_uint32_t serial) {
  DBusMessage* m = dbus_message_new(type);
  if (m == nullptr) return nullptr;
  dbus_message_set_no_reply(m, TRUE);
  if (!dbus_message_set_reply_serial(m, serial) || !dbus_message_set_destination(m, client.c_str())) {
    dbus_message_unref(m);
    return nullptr;
  }
  return m;
}

DBusMessage* busErrorAnswer(const std::string& client, dbus_uint32_t serial, const char* name, std::string_view text) {
  DBusMessage* m = busAnswer(DBUS_MESSAGE_TYPE_ERROR, client, serial);
  const std::string valid = busText(text);
  const char* p = valid.c_str();
  if (m != nullptr && (!dbus_message_set_error_name(m, name) ||
                       !dbus_message_append_args(m, DBUS_TYPE_STRING, &p, DBUS_TYPE_INVALID))) {
    dbus_message_unref(m);
    return nullptr;
  }
  return m;
}

bool Outbox::add(const std::string& client, Item item) {
  std::lock_guard lock(mutex_);
  auto [it, added] = queues_.try_emplace(client);
  Queue& queue = it->second;
  if (added) turn_.push_back(client);
  // One message always fits, however large, so that an answer is never too big to be sent.
  if (queue.full || (!queue.items.empty() && queue.bytes + item.bytes > bound_)) {
    if (item.message != nullptr) dbus_message_unref(item.message);
    queue.full = true;
    return told_.insert(client).second;
  }
  queue.bytes += item.bytes;
  queue.items.push_back(item);
  return false;
}

DBusMessage* Outbox::next() {
  std::lock_guard lock(mutex_);
  while (!turn_.empty()) {
    const std::string client = std::move(turn_.front());
    turn_.pop_front();
    auto it = queues_.find(client);
    if (it == queues_.end()) continue;
    Queue& queue = it->second;
    const Item item = queue.items.front();
    queue.items.pop_front();
    queue.bytes -= item.bytes;
    if (queue.bytes <= bound_ / 2) queue.full = false;
    if (queue.items.empty()) {
      queues_.erase(it);
    } else {
      turn_.push_back(client);
    }
    DBusMessage* message = item.kind == Kind::Message ? item.message
                           : item.kind == Kind::Busy
                               ? busErrorAnswer(client, item.serial, dde::errorName(dde::DdeError::Busy), kBusyText)
                               : busAnswer(DBUS_MESSAGE_TYPE_METHOD_RETURN, client, item.serial);
    if (message != nullptr) return message;
  }
  return nullptr;
}

}  // namespace kelvor
