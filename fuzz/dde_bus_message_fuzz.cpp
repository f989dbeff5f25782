// The DDE server's reading of what arrives on the session bus, fed with messages that any
// program there could send, and some that only a broken bus could: every header field there
// or missing, every method name (the DDE methods, the standard ones, any other), any
// signature, texts from empty to hundreds of thousands of characters, any serial, the
// no-reply flag. Properties: a call with a sender, a member and a serial gets exactly one
// answer or is handed on once, to its caller and its serial; a DDE method with its own
// signature, on the object and without an interface or with the DDE one, is handed on as that
// method, with its names and command cut to what is kept, or refused as negative when it is
// larger than any call taken; nothing else is handed on; a client is said to have left only
// on the bus's own NameOwnerChanged.
//
// The input is read front to back, so that seeds are written by hand. A first byte 'l' or 'B'
// (a wire message's byte order) makes the rest a marshalled message, which libdbus checks as
// it checks what it reads from the socket (header fields of the wrong type are refused there);
// any other first byte starts a recipe:
//   kind      bits 0-1: 0 or 1 a method call, 2 a signal, 3 a return (bit 2: an error);
//             bit 3: no reply wanted
//   path, interface, member, sender, destination: each 0 (missing), 255 followed by a length
//             byte and that text (missing when the field cannot hold it), else one of a list
//   serial    one byte, 0 included
//   then up to eight arguments: a type byte (s u b y i x d o g v a=ay e=as t=(su) m=a{sv}),
//             then its value; a text is a word of a list, 255 followed by a two-byte length and
//             the bytes, or 254 followed by n for 2^(n mod 25) characters (up to 16 Mi); a
//             byte array is a length byte and the bytes, or 254 followed by n for 2^(n mod 26)
//             bytes (up to 32 MiB).

#include <dbus/dbus.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "linux/dde_calls.h"

namespace {

using kelvor::BusCall;

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t number(int bytes) {
    std::uint32_t n = 0;
    for (int i = 0; i < bytes; ++i) n |= static_cast<std::uint32_t>(byte()) << (8 * i);
    return n;
  }
  std::string bytes(std::size_t count) {
    const std::size_t n = std::min(count, size_ - std::min(at_, size_));
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

template <std::size_t N>
const char* pick(const char* const (&list)[N], std::uint8_t choice) {
  return list[(choice - 1u) % N];
}

const char* const kPaths[] = {"/", "/dde", "/org/freedesktop/DBus"};
const char* const kInterfaces[] = {"dde.Server", "org.freedesktop.DBus.Introspectable", "org.freedesktop.DBus.Peer",
                                   "org.freedesktop.DBus", "org.freedesktop.DBus.Properties"};
const char* const kMembers[] = {"Initiate", "Request",      "Advise",           "Unadvise", "Execute",
                                "Poke",     "Terminate",    "Data",             "Introspect", "Ping",
                                "GetMachineId", "NameOwnerChanged", "Get",      "request"};
const char* const kBusNames[] = {":1.7", "org.freedesktop.DBus", ":1.99", "dde.Kelvor"};
const char* const kWords[] = {"Kelvor", "System", "ManualData", "[RUN]", "", "AutoData", ":1.7", "\xC3\xA9t\xC3\xA9"};
const char* const kSignatures[] = {"", "s", "a{sv}", "us"};

// A header field: missing, one of `list`, or the input's own text when `valid` takes it.
const char* field(Reader& in, std::string& own, dbus_bool_t (*valid)(const char*, DBusError*),
                  const char* const* list, std::size_t count) {
  const std::uint8_t choice = in.byte();
  if (choice == 0) return nullptr;
  if (choice == 255) {
    own = in.bytes(in.byte());
    if (own.find('\0') != std::string::npos || !valid(own.c_str(), nullptr)) return nullptr;
    return own.c_str();
  }
  return list[(choice - 1u) % count];
}

std::string text(Reader& in) {
  const std::uint8_t choice = in.byte();
  if (choice == 254) return std::string(std::size_t{1} << (in.byte() % 25), 'x');
  if (choice == 255) {
    std::string own = in.bytes(in.number(2));
    if (own.find('\0') != std::string::npos || !dbus_validate_utf8(own.c_str(), nullptr)) return "\xEF\xBF\xBD";
    return own;
  }
  return pick(kWords, static_cast<std::uint8_t>(choice + 1));
}

bool appendText(DBusMessageIter* iter, int type, const std::string& value) {
  const char* p = value.c_str();
  return dbus_message_iter_append_basic(iter, type, &p);
}

bool appendArgument(DBusMessageIter* iter, Reader& in) {
  const char code = static_cast<char>(in.byte());
  switch (code) {
    case 's': return appendText(iter, DBUS_TYPE_STRING, text(in));
    case 'o': return appendText(iter, DBUS_TYPE_OBJECT_PATH, pick(kPaths, in.byte()));
    case 'g': return appendText(iter, DBUS_TYPE_SIGNATURE, pick(kSignatures, in.byte()));
    case 'u':
    case 'i': {
      const dbus_uint32_t n = in.number(4);
      return dbus_message_iter_append_basic(iter, code == 'u' ? DBUS_TYPE_UINT32 : DBUS_TYPE_INT32, &n);
    }
    case 'x': {
      const dbus_uint64_t n = in.number(4);
      return dbus_message_iter_append_basic(iter, DBUS_TYPE_INT64, &n);
    }
    case 'd': {
      const double n = static_cast<double>(in.number(2)) / 7.0;
      return dbus_message_iter_append_basic(iter, DBUS_TYPE_DOUBLE, &n);
    }
    case 'b': {
      const dbus_bool_t b = in.byte() & 1;
      return dbus_message_iter_append_basic(iter, DBUS_TYPE_BOOLEAN, &b);
    }
    case 'y': {
      const unsigned char b = in.byte();
      return dbus_message_iter_append_basic(iter, DBUS_TYPE_BYTE, &b);
    }
    case 'v': {
      DBusMessageIter inner;
      const bool asText = in.byte() & 1;
      if (!dbus_message_iter_open_container(iter, DBUS_TYPE_VARIANT, asText ? "s" : "u", &inner)) return false;
      const dbus_uint32_t n = 7;
      const bool ok = asText ? appendText(&inner, DBUS_TYPE_STRING, text(in))
                             : dbus_message_iter_append_basic(&inner, DBUS_TYPE_UINT32, &n);
      return dbus_message_iter_close_container(iter, &inner) && ok;
    }
    case 'a': {
      const std::uint8_t choice = in.byte();
      const std::string block = choice == 254 ? std::string(std::size_t{1} << (in.byte() % 26), '\x01') : in.bytes(choice);
      DBusMessageIter inner;
      if (!dbus_message_iter_open_container(iter, DBUS_TYPE_ARRAY, "y", &inner)) return false;
      const char* p = block.data();
      const bool ok = dbus_message_iter_append_fixed_array(&inner, DBUS_TYPE_BYTE, &p, static_cast<int>(block.size()));
      return dbus_message_iter_close_container(iter, &inner) && ok;
    }
    case 'e': {
      DBusMessageIter inner;
      if (!dbus_message_iter_open_container(iter, DBUS_TYPE_ARRAY, "s", &inner)) return false;
      bool ok = true;
      for (std::uint8_t n = in.byte() % 4; n > 0; --n) ok = appendText(&inner, DBUS_TYPE_STRING, text(in)) && ok;
      return dbus_message_iter_close_container(iter, &inner) && ok;
    }
    case 't': {
      DBusMessageIter inner;
      if (!dbus_message_iter_open_container(iter, DBUS_TYPE_STRUCT, nullptr, &inner)) return false;
      const dbus_uint32_t n = in.number(4);
      const bool ok = appendText(&inner, DBUS_TYPE_STRING, text(in)) &&
                      dbus_message_iter_append_basic(&inner, DBUS_TYPE_UINT32, &n);
      return dbus_message_iter_close_container(iter, &inner) && ok;
    }
    case 'm': {
      DBusMessageIter dict, entry, value;
      if (!dbus_message_iter_open_container(iter, DBUS_TYPE_ARRAY, "{sv}", &dict)) return false;
      bool ok = true;
      if (in.byte() & 1) {
        const dbus_uint32_t n = 1;
        ok = dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
             appendText(&entry, DBUS_TYPE_STRING, text(in)) &&
             dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "u", &value) &&
             dbus_message_iter_append_basic(&value, DBUS_TYPE_UINT32, &n) &&
             dbus_message_iter_close_container(&entry, &value) && dbus_message_iter_close_container(&dict, &entry);
      }
      return dbus_message_iter_close_container(iter, &dict) && ok;
    }
    default: return true;
  }
}

DBusMessage* fromRecipe(Reader& in) {
  const std::uint8_t kind = in.byte();
  const int types[] = {DBUS_MESSAGE_TYPE_METHOD_CALL, DBUS_MESSAGE_TYPE_METHOD_CALL, DBUS_MESSAGE_TYPE_SIGNAL,
                       (kind & 4) ? DBUS_MESSAGE_TYPE_ERROR : DBUS_MESSAGE_TYPE_METHOD_RETURN};
  DBusMessage* m = dbus_message_new(types[kind & 3]);
  FUZZ_CHECK(m != nullptr, "no message");
  dbus_message_set_no_reply(m, (kind & 8) != 0);
  std::string own[5];
  const char* path = field(in, own[0], dbus_validate_path, kPaths, std::size(kPaths));
  const char* interface = field(in, own[1], dbus_validate_interface, kInterfaces, std::size(kInterfaces));
  const char* member = field(in, own[2], dbus_validate_member, kMembers, std::size(kMembers));
  const char* sender = field(in, own[3], dbus_validate_bus_name, kBusNames, std::size(kBusNames));
  const char* destination = field(in, own[4], dbus_validate_bus_name, kBusNames, std::size(kBusNames));
  const bool set = dbus_message_set_path(m, path) && dbus_message_set_interface(m, interface) &&
                   dbus_message_set_member(m, member) && dbus_message_set_sender(m, sender) &&
                   dbus_message_set_destination(m, destination);
  FUZZ_CHECK(set, "a header field was not set");
  dbus_message_set_serial(m, in.byte());
  if (types[kind & 3] == DBUS_MESSAGE_TYPE_ERROR) dbus_message_set_error_name(m, "dde.Error.Busy");
  DBusMessageIter iter;
  dbus_message_iter_init_append(m, &iter);
  for (int n = 0; n < 8 && !in.empty(); ++n) FUZZ_CHECK(appendArgument(&iter, in), "an argument was not appended");
  return m;
}

// The characters (code points) of valid UTF-8 text.
std::size_t characters(std::string_view utf8) {
  std::size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

struct Recorder final : kelvor::BusMessageSink {
  std::vector<BusCall> calls;
  std::vector<std::string> answeredTo;
  std::string errorName;
  std::vector<std::string> leavers;
  DBusMessage* question = nullptr;

  void call(BusCall&& call) override { calls.push_back(std::move(call)); }
  void left(const std::string& client) override { leavers.push_back(client); }
  void answer(const std::string& client, DBusMessage* message) override {
    answeredTo.push_back(client);
    // What is answered must be something libdbus sends: addressed to the caller, naming its
    // call, and whole.
    const int type = dbus_message_get_type(message);
    FUZZ_CHECK(type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR, "answer of type %d", type);
    FUZZ_CHECK(dbus_message_get_reply_serial(message) == dbus_message_get_serial(question), "answer to another call");
    const char* to = dbus_message_get_destination(message);
    FUZZ_CHECK(to != nullptr && client == to, "answer to %s sent to %s", to ? to : "nobody", client.c_str());
    if (type == DBUS_MESSAGE_TYPE_ERROR) {
      FUZZ_CHECK(dbus_validate_error_name(dbus_message_get_error_name(message), nullptr), "bad error name");
      errorName = dbus_message_get_error_name(message);
    }
    char* wire = nullptr;
    int length = 0;
    FUZZ_CHECK(dbus_message_marshal(message, &wire, &length), "the answer cannot be marshalled");
    dbus_free(wire);
    dbus_message_unref(message);
  }
};

bool isDdeMember(std::string_view member, std::string_view signature, kelvor::dde::Method& method) {
  using kelvor::dde::Method;
  struct Entry {
    const char* name;
    const char* signature;
    Method method;
  };
  static const Entry entries[] = {
      {"Initiate", "ss", Method::Initiate}, {"Request", "usu", Method::Request},
      {"Advise", "usubb", Method::Advise},  {"Unadvise", "usu", Method::Unadvise},
      {"Execute", "us", Method::Execute},   {"Poke", "usuay", Method::Poke},
      {"Terminate", "u", Method::Terminate}};
  for (const Entry& e : entries) {
    if (member == e.name && signature == e.signature) {
      method = e.method;
      return true;
    }
  }
  return false;
}

// The string arguments of the message, in order, and the bytes of its byte arrays.
std::vector<std::string> strings(DBusMessage* m, std::size_t* dataBytes = nullptr) {
  std::vector<std::string> out;
  DBusMessageIter iter;
  if (!dbus_message_iter_init(m, &iter)) return out;
  do {
    if (dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_STRING) {
      const char* s = nullptr;
      dbus_message_iter_get_basic(&iter, &s);
      out.emplace_back(s);
    } else if (dataBytes != nullptr && dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_ARRAY &&
               dbus_message_iter_get_element_type(&iter) == DBUS_TYPE_BYTE) {
      DBusMessageIter inner;
      dbus_message_iter_recurse(&iter, &inner);
      const char* data = nullptr;
      int n = 0;
      dbus_message_iter_get_fixed_array(&inner, &data, &n);
      *dataBytes += static_cast<std::size_t>(n);
    }
  } while (dbus_message_iter_next(&iter));
  return out;
}

// The decoded text is the first `keep` characters of what was sent.
void checkCut(const std::string& decoded, const std::string& sent, std::size_t keep, const char* what) {
  FUZZ_CHECK(std::string_view(sent).starts_with(decoded), "the %s is not the start of what was sent", what);
  FUZZ_CHECK(characters(decoded) == std::min(keep, characters(sent)), "the %s keeps %zu of %zu characters", what,
             characters(decoded), characters(sent));
}

void check(DBusMessage* m) {
  Recorder recorder;
  recorder.question = m;
  const DBusHandlerResult result = kelvor::dispatchBusMessage(m, recorder);
  const int type = dbus_message_get_type(m);
  const char* sender = dbus_message_get_sender(m);
  const char* member = dbus_message_get_member(m);
  const char* interface = dbus_message_get_interface(m);
  const char* path = dbus_message_get_path(m);
  const std::size_t outcomes = recorder.calls.size() + recorder.answeredTo.size();

  if (type != DBUS_MESSAGE_TYPE_METHOD_CALL) {
    FUZZ_CHECK(result == DBUS_HANDLER_RESULT_NOT_YET_HANDLED && outcomes == 0, "a message other than a call taken");
    const bool ownerChanged = type == DBUS_MESSAGE_TYPE_SIGNAL &&
                              dbus_message_is_signal(m, DBUS_INTERFACE_DBUS, "NameOwnerChanged") &&
                              dbus_message_has_sender(m, DBUS_SERVICE_DBUS) &&
                              std::string_view(dbus_message_get_signature(m)).starts_with("sss");
    FUZZ_CHECK(recorder.leavers.size() <= 1 && (recorder.leavers.empty() || ownerChanged),
               "a client said to have left on another message");
    if (!recorder.leavers.empty()) {
      const auto names = strings(m);
      FUZZ_CHECK(recorder.leavers[0] == names[0] && names[0].starts_with(':') && names[2].empty(),
                 "%s said to have left", recorder.leavers[0].c_str());
    }
    return;
  }
  FUZZ_CHECK(result == DBUS_HANDLER_RESULT_HANDLED && recorder.leavers.empty(), "a call left unhandled");
  const dbus_uint32_t serial = dbus_message_get_serial(m);
  if (sender == nullptr || member == nullptr || serial == 0) {
    FUZZ_CHECK(outcomes == 0, "a call that cannot be answered was taken");
    return;
  }
  const bool wantsReply = !dbus_message_get_no_reply(m);
  FUZZ_CHECK(outcomes == (wantsReply ? 1u : recorder.calls.size()) && recorder.calls.size() <= 1,
             "%zu answers and %zu calls for one call", recorder.answeredTo.size(), recorder.calls.size());

  kelvor::dde::Method method{};
  const bool dde = path != nullptr && std::string_view(path) == "/" &&
                   (interface == nullptr || std::string_view(interface) == "dde.Server") &&
                   isDdeMember(member, dbus_message_get_signature(m), method);
  // As the bounds count a call: the message, 3 bytes a character of text, 2 a byte of data.
  std::size_t data = 0;
  const auto sent = strings(m, &data);
  std::size_t counted = kelvor::kMessageBytes + 2 * data;
  for (const auto& s : sent) counted += 3 * characters(s);
  const bool tooLarge = counted > kelvor::kLargestCall;
  FUZZ_CHECK(recorder.calls.size() == (dde && !tooLarge ? 1u : 0u), "%s%s handed on %zu times",
             interface ? interface : "", member, recorder.calls.size());
  if (dde && recorder.calls.empty() && wantsReply) {
    FUZZ_CHECK(std::string_view(recorder.errorName) == "dde.Error.Negative", "a call too large answered %s",
               recorder.errorName.c_str());
  }
  if (recorder.calls.empty()) return;
  const BusCall& call = recorder.calls[0];
  FUZZ_CHECK(call.method == method && call.client == sender && call.serial == serial, "handed on as another call");
  FUZZ_CHECK(call.bytes >= counted && call.bytes <= kelvor::kLargestCall, "a call counted as %zu bytes", call.bytes);
  using kelvor::dde::Method;
  if (method == Method::Initiate) {
    checkCut(call.item, sent[0], kelvor::kNameKeep, "application");
    checkCut(call.topic, sent[1], kelvor::kNameKeep, "topic");
  } else if (method == Method::Execute) {
    checkCut(call.command, sent[0], kelvor::kCommandKeep, "command");
  } else if (method == Method::Request || method == Method::Advise || method == Method::Unadvise) {
    checkCut(call.item, sent[0], kelvor::kNameKeep, "item");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  DBusMessage* m = nullptr;
  if (data[0] == 'l' || data[0] == 'B') {
    DBusError error;
    dbus_error_init(&error);
    m = dbus_message_demarshal(reinterpret_cast<const char*>(data), static_cast<int>(size), &error);
    dbus_error_free(&error);
  } else {
    Reader in(data, size);
    m = fromRecipe(in);
  }
  if (m == nullptr) return 0;
  check(m);
  dbus_message_unref(m);
  return 0;
}
