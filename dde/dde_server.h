#pragma once
// The DDE protocol layer: conversations, their entries, data links and the write operation.
//
// Plain C++, independent of how messages travel. A transport (D-Bus in the program, a fake
// in tests) turns each incoming call into one of the handle* calls below, together with a
// token that stands for the caller's pending reply, and carries out what the server asks of
// it through DdeTransport: answer a call, or send a Data message to one conversation's
// client. The program side (the request, advise and execute handlers) is reached through
// DdeEvents.
//
// What a client can rely on:
// - Names (application, topic, item) compare without regard to case; "" is a null name.
// - A conversation belongs to the client that opened it; another client naming it is told
//   the conversation is unknown. Ending a conversation answers its pending requests with
//   Terminated.
// - Data is CF_TEXT: the text's bytes followed by one zero byte. A warm advise entry is
//   told of a change by a Data message without a block (no bytes at all).
// - Advise and Execute are answered before the program-side handler runs, so that a
//   handler waiting for a person never holds a client's call.

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor::dde {

constexpr std::uint32_t kFormatText = 1;  // CF_TEXT, the only format served

// Limits that keep a misbehaving client from growing the server without end. Real clients
// stay far below them: a conversation holds a handful of entries, and a DDE name (an atom)
// has at most 255 characters.
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxConversations = 1024;
constexpr std::size_t kMaxConversationsPerClient = 64;  // one client cannot crowd out the others
constexpr std::size_t kMaxEntriesPerConversation = 256;

using ReplyToken = std::uint64_t;
using ConversationId = std::uint32_t;

enum class DdeError {
  NoAnswer,             // initiate: the names do not match (or the server is full)
  Negative,             // negative acknowledgement
  UnknownConversation,  // no such conversation, or it belongs to another client
  Terminated,           // the conversation ended while a request was pending
};

// The wire name of an error ("dde.Error.Negative").
const char* errorName(DdeError error);

// What the server asks of the transport.
class DdeTransport {
 public:
  virtual ~DdeTransport() = default;
  virtual void replyEmpty(ReplyToken token) = 0;
  virtual void replyConversation(ReplyToken token, ConversationId conversation) = 0;
  virtual void replyData(ReplyToken token, const std::string& block) = 0;
  virtual void replyError(ReplyToken token, DdeError error, const std::string& message) = 0;
  // A Data message for an advise entry, to `client` only. An empty block means "no block".
  virtual void sendData(const std::string& client, ConversationId conversation,
                        const std::string& item, std::uint32_t format, const std::string& block) = 0;
};

// The program-side handlers the server hands events to.
class DdeEvents {
 public:
  virtual ~DdeEvents() = default;
  // A request was left pending (no data link for its item).
  virtual void requestPending() = 0;
  // An advise arrived for an item without a data link.
  virtual void adviseWithoutLink() = 0;
  // An execute command, as the client sent it (UTF-8).
  virtual void execute(const std::string& command) = 0;
};

// The value a data link is bound to, read anew each time the link looks at it.
using BoundValue = std::function<std::string()>;

// CF_TEXT block of a text: the text up to its first zero byte, then one zero byte.
std::string textBlock(std::string_view text);

class DdeServer {
 public:
  enum class EntryKind { HotAdvise, WarmAdvise, PendingRequest };

  // `clockMs` reads a monotonic clock in milliseconds.
  DdeServer(std::string service, std::string topic, DdeTransport& transport, DdeEvents& events,
            std::function<std::int64_t()> clockMs);

  // --- Incoming messages; each is answered through the transport with its token.
  void handleInitiate(ReplyToken token, const std::string& client, const std::string& application,
                      const std::string& topic);
  void handleRequest(ReplyToken token, const std::string& client, ConversationId conversation,
                     const std::string& item, std::uint32_t format);
  void handleAdvise(ReplyToken token, const std::string& client, ConversationId conversation,
                    const std::string& item, std::uint32_t format, bool deferUpdate);
  void handleUnadvise(ReplyToken token, const std::string& client, ConversationId conversation,
                      const std::string& item, std::uint32_t format);
  void handleExecute(ReplyToken token, const std::string& client, ConversationId conversation,
                     const std::string& command);
  void handlePoke(ReplyToken token, const std::string& client, ConversationId conversation);
  void handleTerminate(ReplyToken token, const std::string& client, ConversationId conversation);
  // The client left the bus: its conversations end as if it had terminated them.
  void clientLeft(const std::string& client);

  // --- Program side.
  // Removes the link for `item`, then: mode -1 sends the value once to exactly one entry
  // (the most recently added one of the most recently opened conversation that has an entry
  // for the item) and keeps no link; mode 0 keeps a link that sends on every change; a
  // positive mode keeps a link looked at every `mode` seconds. A new link sends the current
  // value at once to every entry for the item.
  void write(int mode, const std::string& item, BoundValue value);
  // The link timer: looks at every periodic link whose interval has passed (and at every
  // mode-0 link) and sends its value where it changed since the copy last sent.
  void checkLinks();
  // Answers every pending request with Terminated and forgets all conversations and links.
  void close();

  // --- Inspection, for tests and the transport.
  std::size_t conversationCount() const { return conversations_.size(); }
  std::size_t entryCount(ConversationId conversation) const;
  bool hasLink(const std::string& item) const;
  bool hasConversationsOf(const std::string& client) const;

 private:
  struct Entry {
    std::string item;  // as the client named it
    EntryKind kind;
    ReplyToken token = 0;  // for a pending request
  };
  struct Conversation {
    ConversationId id;
    std::string client;
    std::list<Entry> entries;  // in the order they were added
  };
  struct Link {
    int mode;  // 0 or a positive interval in seconds
    BoundValue value;
    std::string lastSent;
    std::int64_t lastLookMs = 0;
  };

  Conversation* find(ReplyToken token, const std::string& client, ConversationId id);
  void endConversation(std::map<ConversationId, Conversation>::iterator it, const char* why);
  // Delivers `value` to one entry; a pending request is answered and removed.
  void deliver(Conversation& conversation, std::list<Entry>::iterator entry, const std::string& value);
  void sendToAll(const std::string& itemKey, const std::string& value);

  std::string service_;
  std::string topic_;
  DdeTransport& transport_;
  DdeEvents& events_;
  ConversationId nextId_ = 1;
  std::map<ConversationId, Conversation> conversations_;  // ids grow: last = most recently opened
  std::map<std::string, Link> links_;                    // by upper-cased item
  std::function<std::int64_t()> clockMs_;
};

}  // namespace kelvor::dde
