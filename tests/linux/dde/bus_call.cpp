// Sends one method call on the session bus with an interface field only when one is given,
// which gdbus, busctl and dbus-send cannot do, and prints the answer: "return" and its first
// text argument, or "error" and the error's name.
// Usage: bus_call DESTINATION PATH INTERFACE|"" MEMBER [s:TEXT|u:NUMBER]...
//
// With "--unread N" first, it sends the call N times and never reads an answer, a client that
// does not take up what it is sent; "u:own" then stands for a conversation it opens first.
// It prints "sent N" and stays on the bus until its input ends.
#include <dbus/dbus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char* argv[]) {
  long unread = 0;
  if (argc > 2 && std::strcmp(argv[1], "--unread") == 0) {
    unread = std::atol(argv[2]);
    argv += 2;
    argc -= 2;
  }
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
  dbus_uint32_t own = 0;
  if (unread > 0) {
    DBusMessage* initiate = dbus_message_new_method_call(argv[1], argv[2], argv[3], "Initiate");
    const char* any = "";
    dbus_message_append_args(initiate, DBUS_TYPE_STRING, &any, DBUS_TYPE_STRING, &any, DBUS_TYPE_INVALID);
    DBusMessage* opened = dbus_connection_send_with_reply_and_block(bus, initiate, 5000, &error);
    if (opened == nullptr || !dbus_message_get_args(opened, &error, DBUS_TYPE_UINT32, &own, DBUS_TYPE_INVALID)) {
      std::fprintf(stderr, "bus_call: no conversation\n");
      return 1;
    }
  }
  DBusMessage* call = dbus_message_new_method_call(argv[1], argv[2], *argv[3] ? argv[3] : nullptr, argv[4]);
  DBusMessageIter args;
  dbus_message_iter_init_append(call, &args);
  for (int i = 5; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* text = argv[i] + 2;
    const dbus_uint32_t number =
        arg == "u:own" ? own : static_cast<dbus_uint32_t>(std::strtoul(text, nullptr, 10));
    if (arg.rfind("s:", 0) == 0) {
      dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &text);
    } else if (arg.rfind("u:", 0) == 0) {
      dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &number);
    } else {
      std::fprintf(stderr, "bus_call: %s is neither s:TEXT nor u:NUMBER\n", argv[i]);
      return 2;
    }
  }
  if (unread > 0) {
    for (long i = 0; i < unread; ++i) {
      DBusMessage* copy = dbus_message_copy(call);  // a serial of its own
      dbus_connection_send(bus, copy, nullptr);
      dbus_message_unref(copy);
      if (i % 1000 == 999) dbus_connection_flush(bus);
    }
    dbus_connection_flush(bus);
    std::printf("sent %ld\n", unread);
    std::fflush(stdout);
    char rest[64];
    while (::read(0, rest, sizeof rest) > 0) {
    }
    return 0;
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
