#include "linux/dde_calls.h"

#include <algorithm>
#include <string_view>

#include "linux/dde_outbox.h"

namespace kelvor {
namespace {

constexpr auto kIntrospection = R"(<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="dde.Server">
    <method name="Initiate"><arg type="u" direction="out"/><arg name="application" type="s" direction="in"/><arg name="topic" type="s" direction="in"/></method>
    <method name="Request"><arg type="ay" direction="out"/><arg name="conversation" type="u" direction="in"/><arg name="item" type="s" direction="in"/><arg name="format" type="u" direction="in"/></method>
    <method name="Advise"><arg name="conversation" type="u" direction="in"/><arg name="item" type="s" direction="in"/><arg name="format" type="u" direction="in"/><arg name="deferUpdate" type="b" direction="in"/><arg name="ackRequired" type="b" direction="in"/></method>
    <method name="Unadvise"><arg name="conversation" type="u" direction="in"/><arg name="item" type="s" direction="in"/><arg name="format" type="u" direction="in"/></method>
    <method name="Execute"><arg name="conversation" type="u" direction="in"/><arg name="command" type="s" direction="in"/></method>
    <method name="Poke"><arg name="conversation" type="u" direction="in"/><arg name="item" type="s" direction="in"/><arg name="format" type="u" direction="in"/><arg name="data" type="ay" direction="in"/></method>
    <method name="Terminate"><arg name="conversation" type="u" direction="in"/></method>
    <signal name="Data"><arg name="conversation" type="u" direction="out"/><arg name="item" type="s" direction="out"/><arg name="format" type="u" direction="out"/><arg name="data" type="ay" direction="out"/></signal>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg name="xml_data" type="s" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Peer">
    <method name="Ping"/>
    <method name="GetMachineId"><arg name="machine_uuid" type="s" direction="out"/></method>
  </interface>
</node>
)";

// The characters (code points) of valid UTF-8 text.
std::size_t characters(std::string_view utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `keep` characters of valid UTF-8 text.
std::string firstCharacters(std::string_view utf8, std::size_t keep) {
  std::size_t end = 0, kept = 0;
  while (end < utf8.size()) {
    if ((static_cast<unsigned char>(utf8[end]) & 0xC0) != 0x80 && kept++ == keep) break;
    ++end;
  }
  return std::string(utf8.substr(0, end));
}

// Decodes a call of the DDE interface into `call`; false when no method of that name takes
// these arguments.
bool decodeCall(DBusMessage* message, std::string_view member, BusCall& call) {
  dbus_uint32_t conversation = 0, format = 0;
  const char *text = nullptr, *other = nullptr;
  const char* data = nullptr;
  int size = 0;
  dbus_bool_t deferUpdate = FALSE, ackRequired = FALSE;
  auto args = [&](const char* signature, auto... pointers) {
    return dbus_message_has_signature(message, signature) &&
           dbus_message_get_args(message, nullptr, pointers..., DBUS_TYPE_INVALID);
  };
  using dde::Method;
  std::size_t argumentBytes = 0;
  if (member == "Initiate" && args("ss", DBUS_TYPE_STRING, &text, DBUS_TYPE_STRING, &other)) {
    call.method = Method::Initiate;
    call.item = firstCharacters(text, kNameKeep);
    call.topic = firstCharacters(other, kNameKeep);
    argumentBytes = 3 * (characters(text) + characters(other));
  } else if ((member == "Request" || member == "Unadvise") &&
             args("usu", DBUS_TYPE_UINT32, &conversation, DBUS_TYPE_STRING, &text, DBUS_TYPE_UINT32, &format)) {
    call.method = member == "Request" ? Method::Request : Method::Unadvise;
    call.item = firstCharacters(text, kNameKeep);
    call.format = format;
    argumentBytes = 3 * characters(text);
  } else if (member == "Advise" && args("usubb", DBUS_TYPE_UINT32, &conversation, DBUS_TYPE_STRING, &text,
                                        DBUS_TYPE_UINT32, &format, DBUS_TYPE_BOOLEAN, &deferUpdate,
                                        DBUS_TYPE_BOOLEAN, &ackRequired)) {
    call.method = Method::Advise;
    call.item = firstCharacters(text, kNameKeep);
    call.format = format;
    call.deferUpdate = deferUpdate != FALSE;
    argumentBytes = 3 * characters(text);
  } else if (member == "Execute" && args("us", DBUS_TYPE_UINT32, &conversation, DBUS_TYPE_STRING, &text)) {
    call.method = Method::Execute;
    call.command = firstCharacters(text, kCommandKeep);
    argumentBytes = 3 * characters(text);
  } else if (member == "Poke" && args("usuay", DBUS_TYPE_UINT32, &conversation, DBUS_TYPE_STRING, &text,
                                      DBUS_TYPE_UINT32, &format, DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE, &data, &size)) {
    // Neither the item nor the data is used: only the acknowledgement is queued.
    call.method = Method::Poke;
    argumentBytes = 3 * characters(text) + 2 * static_cast<std::size_t>(size);
  } else if (member == "Terminate" && args("u", DBUS_TYPE_UINT32, &conversation)) {
    call.method = Method::Terminate;
  } else {
    return false;
  }
  call.conversation = conversation;
  call.bytes = kMessageBytes + argumentBytes;
  return true;
}

}  // namespace

DBusHandlerResult dispatchBusMessage(DBusMessage* message, BusMessageSink& sink) {
  const int type = dbus_message_get_type(message);
  if (type == DBUS_MESSAGE_TYPE_SIGNAL) {
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged") &&
        dbus_message_has_sender(message, DBUS_SERVICE_DBUS) &&
        dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &before, DBUS_TYPE_STRING,
                              &after, DBUS_TYPE_INVALID) &&
        name[0] == ':' && after[0] == '\0') {
      sink.left(name);
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  }
  if (type != DBUS_MESSAGE_TYPE_METHOD_CALL) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  // Any header field but the sender, the member and the serial may be missing: the bus
  // passes on a call without an interface (the method is then looked for by its name alone),
  // and the path is there only because the bus checks for it.
  const char* sender = dbus_message_get_sender(message);
  const char* member = dbus_message_get_member(message);
  const dbus_uint32_t serial = dbus_message_get_serial(message);
  if (sender == nullptr || member == nullptr || serial == 0) return DBUS_HANDLER_RESULT_HANDLED;
  const char* path = dbus_message_get_path(message);
  const std::string_view interface = dbus_message_get_interface(message) ? dbus_message_get_interface(message) : "";
  const bool anyInterface = interface.empty();
  const bool wantsReply = !dbus_message_get_no_reply(message);
  // Called only when the caller wants an answer; nullptr (out of memory) sends nothing.
  auto reply = [&](DBusMessage* answer) {
    if (answer != nullptr) sink.answer(sender, answer);
  };
  if (path == nullptr || std::string_view(path) != kDdeObjectPath) {
    if (wantsReply) {
      reply(busErrorAnswer(sender, serial, DBUS_ERROR_UNKNOWN_OBJECT,
                           "No such object path '" + std::string(path ? path : "") + "'"));
    }
    return DBUS_HANDLER_RESULT_HANDLED;
  }
  const std::string_view name = member;
  if (anyInterface || interface == kDdeInterface) {
    BusCall call;
    if (decodeCall(message, name, call)) {
      if (call.bytes > kLargestCall) {
        if (wantsReply) {
          reply(busErrorAnswer(sender, serial, dde::errorName(dde::DdeError::Negative),
                               "The call is too large for Kelvor: it takes calls of up to 40 MiB as counted "
                               "(about 13 million characters of text, or 20 MiB of data), and would refuse this "
                               "one at every try"));
        }
        return DBUS_HANDLER_RESULT_HANDLED;
      }
      call.client = sender;
      call.serial = serial;
      sink.call(std::move(call));
      return DBUS_HANDLER_RESULT_HANDLED;
    }
  }
  if (dbus_message_has_signature(message, "")) {
    if ((anyInterface || interface == DBUS_INTERFACE_INTROSPECTABLE) && name == "Introspect") {
      if (!wantsReply) return DBUS_HANDLER_RESULT_HANDLED;
      DBusMessage* answer = busAnswer(DBUS_MESSAGE_TYPE_METHOD_RETURN, sender, serial);
      const char* xml = kIntrospection;
      if (answer != nullptr && !dbus_message_append_args(answer, DBUS_TYPE_STRING, &xml, DBUS_TYPE_INVALID)) {
        dbus_message_unref(answer);
        answer = nullptr;
      }
      reply(answer);
      return DBUS_HANDLER_RESULT_HANDLED;
    }
    // libdbus answers a Ping that names its interface itself; one that does not comes here.
    if (anyInterface && name == "Ping") {
      if (wantsReply) reply(busAnswer(DBUS_MESSAGE_TYPE_METHOD_RETURN, sender, serial));
      return DBUS_HANDLER_RESULT_HANDLED;
    }
  }
  if (wantsReply) {
    reply(busErrorAnswer(sender, serial, DBUS_ERROR_UNKNOWN_METHOD,
                         "No such method '" + std::string(name) + "' in interface '" +
                             std::string(anyInterface ? kDdeInterface : interface) +
                             "' at object path '/' (signature '" + dbus_message_get_signature(message) + "')"));
  }
  return DBUS_HANDLER_RESULT_HANDLED;
}

}  // namespace kelvor
