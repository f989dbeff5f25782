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
// - A hot advise that asks for acknowledgements gets its next Data message only after the
//   client has acknowledged the one before. Meanwhile a link that sends changes keeps only
//   the newest value for it; Readings keeps every reading, up to kMaxHeldReadings.
// - A one-shot answer (a request's, [WAITRS]'s) goes to every pending request for its item,
//   oldest first, and a copy to each advise entry for it: no request is left behind by one
//   that came later, and an advise never takes an answer meant for a request.
// - An advise is answered before the program-side handler runs, so that a handler waiting
//   for a person never holds a client's call. An execute is answered once the command has
//   had its immediate effects (the port cleared, reception started, a file loaded) and
//   before it waits for a person or for time to pass: a client that has its answer knows
//   that what it sends the instrument next is not swept away by the command.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelvor::dde {

constexpr std::uint32_t kFormatText = 1;  // CF_TEXT, the only format served

// Limits that keep a misbehaving client from growing the server without end. Real clients
// stay far below them: a conversation holds a handful of entries, and a DDE name (an atom)
// has at most 255 characters. A request or advise beyond its share is refused with Busy.
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxConversations = 1024;
constexpr std::size_t kMaxConversationsPerClient = 64;  // one client cannot crowd out the others
// Each pending request holds its caller's message until it is answered. Beyond the bound in
// all, a client that holds none still gets one in.
constexpr std::size_t kMaxPendingRequestsPerClient = 25000;
constexpr std::size_t kMaxPendingRequests = 50000;
// Every change of a hot link sends one Data message per advise entry for its item, so the
// entries are bounded over all of a client's conversations, and in all.
constexpr std::size_t kMaxAdvisesPerClient = 64;
constexpr std::size_t kMaxAdvises = 1024;
// Readings held for one acknowledged link while its client has not yet acknowledged the last
// Data message; beyond it the oldest goes.
constexpr std::size_t kMaxHeldReadings = 1024;

using ReplyToken = std::uint64_t;
using ConversationId = std::uint32_t;

enum class DdeError {
  NoAnswer,             // initiate: the names do not match (or the server is full)
  Negative,             // negative acknowledgement
  UnknownConversation,  // no such conversation, or it belongs to another client
  Terminated,           // the conversation ended while a request was pending
  Busy,                 // the server holds as much as it keeps for this client (or for all)
};

// What a call's own arguments and the open conversations decide at once: the error it gets.
struct Refusal {
  DdeError error;
  std::string message;
};

// The calls a client makes, for checks that do not depend on which one it is.
enum class Method { Initiate, Request, Advise, Unadvise, Execute, Poke, Terminate };

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
  // With `ackRequested` the message asks the client for an acknowledgement, which the
  // transport hands back through DdeServer::handleDataAck.
  virtual void sendData(const std::string& client, ConversationId conversation, const std::string& item,
                        std::uint32_t format, const std::string& block, bool ackRequested) = 0;
};

// The program-side handlers the server hands events to.
class DdeEvents {
 public:
  virtual ~DdeEvents() = default;
  // A request was left pending (no data link for its item).
  virtual void requestPending() = 0;
  // An advise arrived for `item`, which has no data link.
  virtual void adviseWithoutLink(const std::string& item) = 0;
  // An execute command, as the client sent it (UTF-8). The handler calls `acknowledge` once
  // the command's immediate effects are done and before anything that waits; the server
  // answers the call then, or when the handler returns if it never called it. Returns false
  // when the command was not taken because the program holds as much of its kind as it
  // keeps (text waiting to be sent): the client then gets Busy.
  virtual bool execute(const std::string& command, const std::function<void()>& acknowledge) = 0;
  // An acknowledged link of `client` lost readings: its client acknowledges more slowly than
  // they come. Called once per link; a program side that keeps no log need not listen.
  virtual void readingsDropped(const std::string& /*client*/, const std::string& /*item*/) {}
};

// The value a data link is bound to, read anew each time the link looks at it.
using BoundValue = std::function<std::string()>;

// CF_TEXT block of a text: the text up to its first zero byte, then one zero byte.
std::string textBlock(std::string_view text);

// The service a server offers unless KELVOR.INI names another ([DDE] SERVICE).
inline constexpr std::string_view kDefaultService = "Kelvor";

class DdeServer;

// How a desk's DDE messages travel (the session bus on Linux, window messages on Windows):
// the transport that carries the server's answers, which the desk also starts and closes.
class DdeEndpoint : public DdeTransport {
 public:
  // Whether `name` can be the service's name on this transport; when not, `rule` says in a
  // sentence what a name may be made of.
  virtual bool isServiceName(std::string_view name, std::string& rule) const = 0;
  // Serves `server` as the DDE service `service`. Returns false, with a sentence for the
  // user in `error`, when it cannot (another program serves that name, no bus); nothing is
  // registered then.
  virtual bool start(const std::string& service, DdeServer& server, std::string& error) = 0;
  // Ends every conversation (pending requests get Terminated) and gives the name up. Does
  // nothing when not started.
  virtual void close() = 0;
};

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
  // `ackRequired`: the client acknowledges each Data message of a hot link (DDEADVISE
  // fAckReq); a warm link's message has no block to carry the request, so it is not asked.
  void handleAdvise(ReplyToken token, const std::string& client, ConversationId conversation,
                    const std::string& item, std::uint32_t format, bool deferUpdate, bool ackRequired = false);
  void handleUnadvise(ReplyToken token, const std::string& client, ConversationId conversation,
                      const std::string& item, std::uint32_t format);
  void handleExecute(ReplyToken token, const std::string& client, ConversationId conversation,
                     const std::string& command);
  void handlePoke(ReplyToken token, const std::string& client, ConversationId conversation);
  void handleTerminate(ReplyToken token, const std::string& client, ConversationId conversation);
  // The client acknowledged a Data message that asked for it, for `item` in `conversation`:
  // the oldest one outstanding for that item there. Its link may send again.
  void handleDataAck(const std::string& client, ConversationId conversation, const std::string& item);
  // The client left the bus: its conversations end as if it had terminated them.
  void clientLeft(const std::string& client);

  // What can be decided about a call when it arrives, before its turn: a name longer than a
  // DDE name can be, an impossible format, an initiate for other names, a conversation that
  // is not open for this client. The handler would give the same answer; a transport that
  // must hold calls back answers these at once instead of holding them. For an initiate,
  // `item` is the application and `topic` the topic; otherwise `topic` is unused.
  std::optional<Refusal> refusal(Method method, const std::string& client, ConversationId conversation,
                                 std::string_view item, std::string_view topic, std::uint32_t format) const;

  // --- Program side.
  // Removes the link for `item`, then: mode -1 is a one-shot answer: the value goes to every
  // pending request for the item, oldest first, and a copy to each of its advise entries; no
  // link is kept. Mode 0 keeps a link that sends on every change; a positive mode keeps a link
  // looked at every `mode` seconds. A new link sends the current value at once to every entry
  // for the item that has not had exactly that value from a link already.
  void write(int mode, const std::string& item, BoundValue value);
  // Sends `value` once to every advise entry for `item` (a warm one is told without a
  // block), as it comes: no link is kept and an equal value is sent again.
  void send(const std::string& item, const std::string& value);
  // Answers every pending request for `item` with `value`, oldest first.
  void answerRequests(const std::string& item, const std::string& value);
  // The link timer: looks at every periodic link whose interval has passed (and at every
  // mode-0 link) and sends its value where it changed since the copy last sent, to each
  // entry that does not hold that value already (one that got it at once when it came).
  void checkLinks();
  // Answers every pending request with Terminated and forgets all conversations and links.
  void close();

  // --- Inspection, for tests and the transport.
  std::size_t conversationCount() const { return conversations_.size(); }
  std::size_t entryCount(ConversationId conversation) const;
  std::size_t pendingRequestCount() const { return requestCount_; }
  bool hasLink(const std::string& item) const;
  bool hasLinks() const { return !links_.empty(); }
  bool hasConversationsOf(const std::string& client) const { return clients_.count(client) > 0; }

 private:
  // Entries are numbered in the order they are added. Every operation on them (add, answer,
  // drop, find the newest for an item) costs the same however many there are, give or take
  // a logarithm, so that thousands of pending requests do not slow down the next one.
  using EntryNumber = std::uint64_t;
  // Orders one item's entries: by conversation, then by age; the newest entry of the newest
  // conversation comes last.
  using ItemOrder = std::pair<ConversationId, EntryNumber>;
  // How a value waits for an acknowledged link whose client has not acknowledged yet.
  enum class Keep {
    Newest,  // a changed value replaces one still waiting (links, one-shot copies)
    Every,   // every reading is kept, in order, up to kMaxHeldReadings (Readings)
  };
  struct Entry {
    ConversationId conversation = 0;
    std::string item;  // as the client named it
    std::string key;   // upper-cased, for the item index
    EntryKind kind = EntryKind::PendingRequest;
    ReplyToken token = 0;  // for a pending request
    bool ackRequired = false;
    // An acknowledged link: the send its acknowledgement is awaited for (0: none), and what
    // waits for it meanwhile.
    std::uint64_t awaitedSend = 0;
    std::deque<std::string> held;
    bool toldDropped = false;
    // The last value a link gave this entry, so that a look does not send it again.
    std::optional<std::string> lastGiven;
  };
  struct Conversation {
    ConversationId id;
    std::string client;
    std::set<EntryNumber> advises;
    std::set<EntryNumber> requests;
  };
  // What one client holds, for its shares and so that its leaving finds its conversations.
  struct ClientShare {
    std::set<ConversationId> conversations;
    std::size_t advises = 0;
    std::size_t requests = 0;
  };
  struct Link {
    int mode;  // 0 or a positive interval in seconds
    BoundValue value;
    std::string lastSent;
    std::int64_t lastLookMs = 0;
  };

  // Answers the call with its refusal, if it has one; true when it did.
  bool refuse(ReplyToken token, Method method, const std::string& client, ConversationId conversation,
              std::string_view item, std::string_view topic, std::uint32_t format);
  EntryNumber addEntry(Conversation& conversation, const std::string& item, EntryKind kind, ReplyToken token);
  void removeEntry(EntryNumber number);
  void endConversation(ConversationId id, const char* why);
  // Delivers `value` to one entry; a pending request is answered and removed. An advise that
  // waits for an acknowledgement holds the value as `keep` says.
  void deliver(EntryNumber number, const std::string& value, Keep keep = Keep::Newest);
  // Sends to an advise entry now; an acknowledged link then waits for the client.
  void sendNow(Entry& entry, const std::string& value);
  // A link's value for every entry of the item that has not been given exactly it.
  void sendLinkValue(const std::string& itemKey, const std::string& value);
  // The item's pending requests (oldest first) or its advise entries.
  std::vector<EntryNumber> requestsFor(const std::string& itemKey) const;
  std::vector<EntryNumber> advisesFor(const std::string& itemKey) const;

  std::string service_;
  std::string topic_;
  DdeTransport& transport_;
  DdeEvents& events_;
  ConversationId nextId_ = 1;
  std::map<ConversationId, Conversation> conversations_;  // ids grow: last = most recently opened
  std::unordered_map<std::string, ClientShare> clients_;
  std::unordered_map<EntryNumber, Entry> entries_;
  std::unordered_map<std::string, std::set<ItemOrder>> byItem_;  // by upper-cased item
  EntryNumber nextEntry_ = 1;
  std::uint64_t nextSend_ = 1;
  std::size_t requestCount_ = 0;
  std::size_t adviseCount_ = 0;
  std::map<std::string, Link> links_;  // by upper-cased item
  std::function<std::int64_t()> clockMs_;
};

}  // namespace kelvor::dde
