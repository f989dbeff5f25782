#pragma once
// The DDE server's transport on Windows: the WM_DDE message protocol, with global atoms for
// names and global memory for data.
//
// A hidden top-level window answers WM_DDE_INITIATE broadcasts; each conversation it accepts
// gets a message-only window of its own (cheap to make, reached by no broadcast), whose
// handle the client talks to, so that one client window may hold several conversations.
// Incoming messages become the DDE server's handle* calls; the server's answers become
// WM_DDE_ACK, WM_DDE_DATA and WM_DDE_TERMINATE, with the lParam packed or plain as each
// message wants and every atom and block freed by the side the protocol makes responsible.
//
// What it promises, beside the protocol:
// - A client is its process (DDEML opens a window per conversation): the server's shares
//   per client, and the waiting bounds below, count per process. The last conversations are
//   kept for processes that hold none.
// - Events are handled one at a time. What its own arguments decide (an unknown
//   conversation, another format than CF_TEXT, an execute without a block) is answered at
//   once. The rest waits in its conversation's queue and the conversations are served in
//   turn, one message each: DDE messages are taken off the thread's queue as they come, so
//   that one client's flood never stands in front of another's request. Nothing is served
//   while one is being handled (a command that shows a box runs a message loop) or while
//   the front end holds its events (a modal window). Beyond a bound of messages and bytes
//   per client and in all the answer is a busy acknowledgement (a terminate always waits;
//   one message of a client waits whatever its size), and an execute keeps only the text a
//   command can use: the server never goes deaf and never grows without end.
// - An initiate is answered at once, with a second at most for the client to take the
//   answer: one that does not (it posted its initiate, or hangs) is not answered again.
// - A client that goes away without WM_DDE_TERMINATE (its window is gone when a post fails,
//   or at the once-a-second look) leaves: its conversations end as if it had terminated. A
//   post that fails to a window that is still there (a full queue) loses that one message;
//   it, and a block that cannot be allocated, are written once per conversation to the log.
// - A block that crossed to or from another process is freed here as soon as the post is
//   done (each side has its own copy): a long hot link or a flood of requests uses no handles.
//   Answers sent with an acknowledgement asked for are remembered until it comes, 32 per
//   conversation at most: a client that never acknowledges costs no more.
// - A hot link whose DDEADVISE asks for acknowledgements (fAckReq) gets WM_DDE_DATA with
//   fAckReq set; the client's WM_DDE_ACK of it goes to the DDE server, which paces the link.
// - At start, a server that already answers the same names keeps them: start() fails.

#include <functional>
#include <memory>
#include <string>

#include "core/dde/dde_server.h"

namespace kelvor {

class Notices;

constexpr std::size_t kMaxWaitingMessagesPerClient = 1024;
constexpr std::size_t kMaxWaitingMessages = 8192;
constexpr std::size_t kMaxWaitingBytesPerClient = 4u << 20;
constexpr std::size_t kMaxWaitingBytes = 16u << 20;
constexpr std::size_t kMaxUnacknowledgedPerConversation = 32;
constexpr std::size_t kConversationsKeptFree = 64;

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
  // Where a client's full queue and a failed allocation are written (kelvor.log).
  void setNotices(Notices* notices);
  // Ends every conversation with WM_DDE_TERMINATE and destroys the windows.
  void close() override;
  bool isStarted() const;
  // The answers whose acknowledgement is awaited, over all conversations (for tests).
  std::size_t unacknowledgedCount() const;

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
