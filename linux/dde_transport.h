#pragma once
// The DDE server's transport on the D-Bus session bus.
//
// Service S is the bus name "dde.S"; the object is "/", the interface "dde.Server", with one
// method per DDE message and the Data signal, sent to one client only. Every incoming call
// is handed to the DDE server through the modal gate and answered once the server has
// handled it, so that while a modal window, a file dialog or a blocking command is open,
// messages wait in arrival order and are handled when the main window's own handling
// resumes. A client that leaves the bus ends its conversations.
//
// The server never goes deaf. It has a connection to the bus of its own, read and written on
// a thread of its own (the wire), so that what clients send is looked at at once, however
// long the main thread is held: a call beyond a bound of calls on their way to the main
// thread is answered Busy there (one larger than a client's whole share, which no retry could
// get past, is refused as negative by dispatchBusMessage). A call that waits behind the gate
// is first checked for what its arguments decide at once (DdeServer::refusal) and answered
// then; what waits is bounded per client and in all, by count and by bytes, and a call
// beyond the bounds is answered dde.Error.Busy at once. The bytes are counted as the memory
// a waiting call would hold whole: the message as it arrived and its decoded arguments (3
// bytes a character of text, 2 a byte of data, 512 for the message itself).
//
// What the server sends goes out in turn, one message per client with something to send,
// and only as fast as the bus takes it up. The bus daemon reads each connection a few
// kilobytes at a time and looks through every call it has passed on and not yet seen
// answered for each message it passes, so answers to a flooding client, handed to the bus
// all at once, would stand for minutes in front of another client's answer. Kept here
// instead, a Busy answer costs a few bytes until its turn.

#include <cstddef>
#include <memory>
#include <string>

#include "core/dde/dde_server.h"

namespace kelvor {

constexpr std::size_t kMaxWaitingCallsPerClient = 1024;
constexpr std::size_t kMaxWaitingCalls = 8192;
constexpr std::size_t kMaxWaitingBytesPerClient = 4u << 20;
constexpr std::size_t kMaxWaitingBytes = 16u << 20;
// Calls the wire has taken from the bus and the main thread not yet taken up: bounded the
// same way, and answered Busy on the wire beyond, so that however long the main thread is
// held, what waits for it stays small enough to be handled within a second once it is free.
constexpr std::size_t kMaxCallsOnTheirWayPerClient = 1024;
constexpr std::size_t kMaxCallsOnTheirWay = 8192;
// A client's share takes one call with 16 MiB of data (32 MiB as counted).
constexpr std::size_t kMaxBytesOnTheirWayPerClient = 40u << 20;
constexpr std::size_t kMaxBytesOnTheirWay = 80u << 20;

// Whether `name` can be a DDE service on the bus, where it becomes the last element of the
// bus name "dde." + name: 1 to 251 letters, digits, "_" or "-", not beginning with a digit.
bool isBusServiceName(std::string_view name);

class DBusDdeTransport : public dde::DdeEndpoint {
 public:
  DBusDdeTransport();
  ~DBusDdeTransport() override;
  DBusDdeTransport(const DBusDdeTransport&) = delete;
  DBusDdeTransport& operator=(const DBusDdeTransport&) = delete;

  // Serves `server` as the DDE service `service` on the session bus. Returns false, with a
  // sentence for the user in `error`, when there is no session bus or another program owns
  // the name; nothing is registered then.
  bool start(const std::string& service, dde::DdeServer& server, std::string& error) override;
  // Ends every conversation (pending requests get dde.Error.Terminated) and gives up the
  // name and the object. Does nothing when not started.
  void close() override;
  bool isServiceName(std::string_view name, std::string& rule) const override;
  bool isStarted() const;

  void replyEmpty(dde::ReplyToken token) override;
  void replyConversation(dde::ReplyToken token, dde::ConversationId conversation) override;
  void replyData(dde::ReplyToken token, const std::string& block) override;
  void replyError(dde::ReplyToken token, dde::DdeError error, const std::string& message) override;
  void sendData(const std::string& client, dde::ConversationId conversation, const std::string& item,
                std::uint32_t format, const std::string& block, bool ackRequested) override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvor
