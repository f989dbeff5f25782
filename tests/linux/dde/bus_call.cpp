// Sends one method call on the session bus with an interface field only when one is given,
// which gdbus, busctl and dbus-send cannot do, and prints the answer: "return" and its first
// text argument, or "error" and the error's name.
// Usage: bus_call DESTINATION PATH INTERFACE|"" MEMBER [s:TEXT|u:NUMBER]...
#include <dbus/dbus.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char* argv[]) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bus_call DESTINATION PATH INTERFACE|\"\" MEMBER [s:TEXT|u:NUMBER]...\n");
    return 2;
  }
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* bus = dbus_bus_get(DBUS_BUS_SESSION, &error);
  if (bus == nullptr) {
    std::fprintf(stderr, "bus_call: %s\n", error.message);
    return 1;
  }
  DBusMessage* call = dbus_message_new_method_call(argv[1], argv[2], *argv[3] ? argv[3] : nullptr, argv[4]);
  DBusMessageIter args;
  dbus_message_iter_init_append(call, &args);
  for (int i = 5; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* text = argv[i] + 2;
    const dbus_uint32_t number = static_cast<dbus_uint32_t>(std::strtoul(text, nullptr, 10));
    if (arg.rfind("s:", 0) == 0) {
      dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &text);
    } else if (arg.rfind("u:", 0) == 0) {
      dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &number);
    } else {
      std::fprintf(stderr, "bus_call: %s is neither s:TEXT nor u:NUMBER\n", argv[i]);
      return 2;
    }
  }
  DBusMessage* answer = dbus_connection_send_with_reply_and_block(bus, call, 5000, &error);
  if (answer == nullptr) {
    std::printf("error %s\n", error.name);
    return 0;
  }
  const char* first = "";
  DBusMessageIter it;
  if (dbus_message_iter_init(answer, &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_STRING) {
    dbus_message_iter_get_basic(&it, &first);
  } else if (dbus_message_iter_init(answer, &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_UINT32) {
    dbus_uint32_t n = 0;
    dbus_message_iter_get_basic(&it, &n);
    std::printf("return %u\n", n);
    return 0;
  }
  std::printf("return %s\n", first);
  return 0;
}
