#include "linux/dde_outbox.h"

#include "core/dde/dde_server.h"

namespace kelvor {
namespace {

constexpr auto kBusyText =
    "Kelvor is busy (a window or command holds its DDE messages back, or it has more calls to "
    "handle than it keeps) and holds as many of yours as it keeps; try again later";

}  // namespace

std::string busText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length != 0 && i + length <= text.size() && lead != 0;
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (byte(i + k) & 0xC0) == 0x80;
      c = (c << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && c >= kLeast[length] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF) && c != 0xFFFE && c != 0xFFFF;
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
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

DBusMessage* Outbox::next() {
  std::lock_guard lock(mutex_);
  while (!turn_.empty()) {
    const std::string client = std::move(turn_.front());
    turn_.pop_front();
    auto it = queues_.find(client);
    if (it == queues_.end()) continue;
    const Item item = it->second.front();
    it->second.pop_front();
    if (it->second.empty()) {
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
