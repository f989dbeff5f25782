#pragma once
// The DDE server's transport on Windows: the WM_DDE message protocol, with global atoms for
// names and global memory for data.
//
// A hidden top-level window answers WM_DDE_INITIATE broadcasts; each conversation it accepts
// gets a hidden window of its own, whose handle the client talks to, so that one client
// window may hold several conversations. Incoming messages become the DDE server's handle*
// calls; the server's answers become WM_DDE_ACK, WM_DDE_DATA and WM_DDE_TERMINATE, with the
// lParam packed or plain as each message wants and every atom and block freed by the side
// the protocol makes responsible.
//
// What it promises, beside the protocol:
// - Events are handled one at a time. A message that arrives while one is being handled (a
//   command that shows a box runs a message loop) or while the front end holds its events
//   (a modal window) waits, in arrival order; what its own arguments decide (an unknown
//   conversation, another format than CF_TEXT) is answered at once, and beyond a bound per
//   client and in all the answer is a busy acknowledgement: the server never goes deaf and
//   never grows without end. An initiate is always answered at once: the client is waiting
//   in SendMessage.
// - A client that goes away without WM_DDE_TERMINATE (a post to it fails, or its window is
//   gone at the once-a-second look) leaves: its conversations end as if it had terminated.

#include <functional>
#include <memory>
#include <string>

#include "core/dde/dde_server.h"

namespace kelvor {

constexpr std::size_t kMaxWaitingMessagesPerClient = 1024;
constexpr std::size_t kMaxWaitingMessages = 8192;

class Win32DdeTransport : public dde::DdeEndpoint {
 public:
  Win32DdeTransport();
  ~Win32DdeTransport() override;
  Win32DdeTransport(const Win32DdeTransport&) = delete;
  Win32DdeTransport& operator=(const Win32DdeTransport&) = delete;

  // A service name is a global atom: 1 to 255 characters.
  bool isServiceName(std::string_view name, std::string& rule) const override;
  // Serves `server` as `service`, topic "System". Returns false, with a sentence for the user
  // in `error`, when the windows cannot be made.
  bool start(const std::string& service, dde::DdeServer& server, std::string& error) override;
  // Tells whether the front end holds its events back (a modal window is open); messages
  // then wait until resume() is called with the hold lifted.
  void setHold(std::function<bool()> held);
  // Handles what waits, when nothing holds it.
  void resume();
  // Ends every conversation with WM_DDE_TERMINATE and destroys the windows.
  void close() override;
  bool isStarted() const;

  void replyEmpty(dde::ReplyToken token) override;
  void replyConversation(dde::ReplyToken token, dde::ConversationId conversation) override;
  void replyData(dde::ReplyToken token, const std::string& block) override;
  void replyError(dde::ReplyToken token, dde::DdeError error, const std::string& message) override;
  void sendData(const std::string& client, dde::ConversationId conversation, const std::string& item,
                std::uint32_t format, const std::string& block) override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvor
