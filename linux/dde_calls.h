#pragma once
// What the DDE server makes of each message its bus connection receives, decided on the wire
// before anything is handed to the main thread: a DDE call decoded from its arguments, a
// client that left the bus, or an answer given at once (the introspection data, a Ping, no
// such object, no such method). Any program on the session bus can send anything here, with
// or without an interface, in any signature; this unit needs no bus and no thread, so the
// fuzz target feeds it such messages directly.

#include <dbus/dbus.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/dde/dde_server.h"

namespace kelvor {

// The DDE object and its interface on the bus.
constexpr auto kDdeObjectPath = "/";
constexpr auto kDdeInterface = "dde.Server";
// A command is cut to 127 characters anyway; no more than this is kept from the bus.
constexpr std::size_t kCommandKeep = 254;
// A name is kept to one character more than a DDE name may have: enough for the server to
// refuse it as too long, without copying a megabyte that is refused anyway.
constexpr std::size_t kNameKeep = dde::kMaxNameLength + 1;
// What a held message costs beside its arguments.
constexpr std::size_t kMessageBytes = 512;
// The largest call taken, as counted (BusCall::bytes): a client's whole share of the calls on
// their way to the main thread (dde_transport.h). A larger call could never be taken, so it is
// refused as dde.Error.Negative at once; Busy would tell its caller to try again.
constexpr std::size_t kLargestCall = 40u << 20;

// A call of the DDE interface, with what the server needs of its arguments.
struct BusCall {
  dde::Method method = dde::Method::Terminate;
  std::string client;  // the caller's unique bus name
  dbus_uint32_t serial = 0;
  dde::ConversationId conversation = 0;
  std::string item;     // the item, or an Initiate's application; at most kNameKeep characters
  std::string topic;    // an Initiate's topic; at most kNameKeep characters
  std::string command;  // an Execute's command; at most kCommandKeep characters
  std::uint32_t format = 0;  // of a Request, Unadvise or Advise
  bool deferUpdate = false;
  // The memory the call would hold whole, as the bounds count it: the message and its decoded
  // arguments (3 bytes a character of text, 2 a byte of data).
  std::size_t bytes = 0;
};

// Where the decisions go.
class BusMessageSink {
 public:
  // A DDE call to hand to the server.
  virtual void call(BusCall&& call) = 0;
  // An answer to send to `client`; the sink takes the message over.
  virtual void answer(const std::string& client, DBusMessage* message) = 0;
  // The client has left the bus.
  virtual void left(const std::string& client) = 0;

 protected:
  ~BusMessageSink() = default;
};

// Looks at one message the connection received and tells `sink` what to do about it. Method
// calls are handled here whatever they hold (a call without sender, member or serial, which
// the bus never passes on, is dropped); other messages are left to libdbus.
DBusHandlerResult dispatchBusMessage(DBusMessage* message, BusMessageSink& sink);

}  // namespace kelvor
