#include "windows/dde_transport.h"

#include <windows.h>
#include <dde.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include "core/diagnostics/repeat_bound.h"
#include "core/toolkit/notices.h"
#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

constexpr wchar_t kWindowClass[] = L"KelvorDdeServer";
// A client window that left, posted to the listening window so that it is handled between
// events and never inside a call of the server.
constexpr UINT kClientLeft = WM_APP + 21;
constexpr UINT kResume = WM_APP + 22;
constexpr UINT_PTR kSweepTimer = 1;
constexpr UINT kSweepMs = 1000;
// How long a client may take to accept the answer to its initiate. One that does not (it
// posted the initiate and went on with something else, or it hangs) is not answered again.
constexpr UINT kInitiateAnswerMs = 1000;
// At start, how long each window may take over our own initiate, which finds another server
// already answering the same names.
constexpr UINT kProbeMs = 500;
// A command is cut to 127 characters anyway: no more of an execute is kept while it waits.
constexpr std::size_t kCommandKeep = 254;
// What a waiting message costs beside its text and the block it holds.
constexpr std::size_t kMessageBytes = 256;
// Served in one go before the message loop has its turn again (the tick, painting).
constexpr ULONGLONG kServeSliceMs = 20;
// Taken off the thread's queue in one go, and served between two such looks.
constexpr int kIntakeBatch = 256;
constexpr int kServedBetweenLooks = 16;

// The causes written to kelvor.log once per conversation.
constexpr unsigned kSaidQueueFull = 1;
constexpr unsigned kSaidNoMemory = 2;

// The client is its process: DDEML opens a window per conversation.
std::string clientKey(DWORD process) {
  char key[32];
  std::snprintf(key, sizeof key, "pid:%lu", static_cast<unsigned long>(process));
  return key;
}

DWORD processOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

// The first `keep` characters of UTF-8 text.
std::string firstCharacters(std::string text, std::size_t keep) {
  std::size_t end = 0, kept = 0;
  while (end < text.size()) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && kept++ == keep) break;
    ++end;
  }
  text.resize(end);
  return text;
}

// A block that crossed to or from another process is a copy in each (Wine and Windows copy
// it when the message is posted or taken): once the post has returned, a handle to it that is
// still good in this process is nobody's but ours, whatever the protocol says the other side
// frees. Kept, each would take one of the process's 65,536 moveable handles for good.
void releaseCopy(HGLOBAL block, DWORD otherProcess) {
  if (block && otherProcess != GetCurrentProcessId() && GlobalSize(block) > 0) GlobalFree(block);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// One DDE message as it arrived, decoded, with what it handed over: the item atom and the
// memory block the answer must return or free.
struct Incoming {
  UINT message = 0;  // WM_DDE_*
  HWND window = nullptr;
  HWND client = nullptr;
  DWORD process = 0;
  dde::ConversationId conversation = 0;
  std::string item;
  std::uint32_t format = 0;
  bool deferUpdate = false;
  bool ackRequested = false;
  bool unreadable = false;  // an execute without a block
  bool quiet = false;       // a terminate for a client that has gone: nothing is posted
  std::string command;
  ATOM atom = 0;
  HGLOBAL memory = nullptr;  // advise options, poke data or execute commands
  std::size_t bytes = 0;     // what it costs while it waits
};

}  // namespace

struct Win32DdeTransport::Impl {
  // A block sent with an acknowledgement asked for, and the item atom that went with it.
  struct Sent {
    HGLOBAL block;
    ATOM atom;
  };
  struct Conversation {
    dde::ConversationId id = 0;
    HWND client = nullptr;
    DWORD process = 0;
    // Messages waiting for their turn.
    std::deque<Incoming> queue;
    // Blocks sent with an acknowledgement asked for, in order: a negative acknowledgement
    // gives a block back to us to free.
    std::deque<Sent> unacknowledged;
    // The oldest blocks given up on (a client that never acknowledges): their late
    // acknowledgements are only counted off.
    std::size_t forgotten = 0;
    // The Data messages of acknowledged links, with their items (at most one a link): their
    // acknowledgements pace the links. Kept apart from the answers above, which some clients
    // (Wine's DDEML) never acknowledge and which would otherwise take these acknowledgements.
    std::deque<std::pair<std::string, HGLOBAL>> linkData;
    unsigned said = 0;
  };
  struct Share {
    std::size_t messages = 0;
    std::size_t bytes = 0;
  };

  dde::DdeServer* server = nullptr;
  std::wstring service;
  std::wstring topic;
  HWND listener = nullptr;
  std::map<HWND, Conversation> conversations;  // by the server-side window
  std::unordered_map<dde::ConversationId, HWND> windows;
  std::unordered_map<dde::ReplyToken, Incoming> pending;
  dde::ReplyToken nextToken = 1;
  std::function<bool()> held;
  int running = 0;  // events being handled, nested in each other's message loops
  bool serving = false;
  bool resumePosted = false;
  // Conversations with messages waiting, in turn: one message of each, then the next round.
  std::deque<dde::ConversationId> turn;
  std::unordered_map<DWORD, Share> waitingPerProcess;
  Share waitingInAll;
  std::deque<HWND> gone;  // client windows that left, to be taken up when nothing holds
  std::set<HWND> leaving;
  std::set<HWND> unanswered;  // clients that did not take the answer to their initiate
  Notices* notices = nullptr;
  RepeatBound logged;
  bool probing = false;
  int otherServers = 0;

  bool holding() const { return running > 0 || (held && held()); }

  void say(HWND window, unsigned cause, const std::string& text) {
    auto it = conversations.find(window);
    if (it != conversations.end()) {
      if (it->second.said & cause) return;
      it->second.said |= cause;
    }
    const std::string line = logged.line(text);
    if (notices && !line.empty()) notices->note({NoticeKind::Warning, "DDE server", line});
  }

  // --- Sending. A post that fails to a window that is gone means its client left; to one
  // that is still there, that its queue is full: that message is lost, the client stays.
  bool post(HWND client, UINT message, HWND from, LPARAM lParam) {
    if (PostMessageW(client, message, reinterpret_cast<WPARAM>(from), lParam)) return true;
    if (!IsWindow(client)) {
      left(client);
    } else {
      say(from, kSaidQueueFull,
          "A DDE client takes its messages too slowly (its message queue is full): what cannot be posted to it "
          "is dropped, and its conversation goes on.");
    }
    return false;
  }

  void ack(const Incoming& in, WORD status, UINT_PTR high) {
    const LPARAM lParam = PackDDElParam(WM_DDE_ACK, status, high);
    if (!post(in.client, WM_DDE_ACK, in.window, lParam)) {
      FreeDDElParam(WM_DDE_ACK, lParam);
      if (in.message != WM_DDE_EXECUTE && high) GlobalDeleteAtom(static_cast<ATOM>(high));
    }
    // The client frees its own execute block, or keeps the block of a refused advise or poke.
    if (in.message == WM_DDE_EXECUTE || !(status & win::kAckPositive)) releaseCopy(in.memory, in.process);
  }

  // Answers a message positively, and frees what the positive answer makes ours.
  void positive(const Incoming& in) {
    switch (in.message) {
      case WM_DDE_EXECUTE:
        ack(in, win::kAckPositive, reinterpret_cast<UINT_PTR>(in.memory));
        break;
      case WM_DDE_ADVISE:
        GlobalFree(in.memory);
        ack(in, win::kAckPositive, in.atom);
        break;
      case WM_DDE_POKE: {
        const auto poke = win::readDataBlock(in.memory);
        if (poke && poke->release) {
          GlobalFree(in.memory);
        } else {
          releaseCopy(in.memory, in.process);
        }
        ack(in, win::kAckPositive, in.atom);
        break;
      }
      case WM_DDE_TERMINATE:
        if (!in.quiet) post(in.client, WM_DDE_TERMINATE, in.window, 0);
        endWindow(in.window);
        break;
      default:
        ack(in, win::kAckPositive, in.atom);
    }
  }

  // Answers a message negatively: the sender keeps (and frees) its block.
  void negative(const Incoming& in, WORD status) {
    switch (in.message) {
      case WM_DDE_INITIATE:
        break;
      case WM_DDE_EXECUTE:
        // A handle that is no block goes back as none: there is nothing to return.
        ack(in, status, in.unreadable ? 0 : reinterpret_cast<UINT_PTR>(in.memory));
        break;
      case WM_DDE_TERMINATE: {
        // Only the conversation's own client can end it; anyone else just hears the answer.
        if (!in.quiet) post(in.client, WM_DDE_TERMINATE, in.window, 0);
        auto it = conversations.find(in.window);
        if (it != conversations.end() && it->second.client == in.client) endWindow(in.window);
        break;
      }
      default:
        ack(in, status, in.atom);
    }
  }

  // Frees what a message that will never be answered holds (its client has gone, or its
  // conversation ended before its turn).
  static void discard(const Incoming& in) {
    if (in.atom) GlobalDeleteAtom(in.atom);
    if (in.memory && (in.message == WM_DDE_ADVISE || in.message == WM_DDE_POKE)) GlobalFree(in.memory);
    if (in.message == WM_DDE_EXECUTE) releaseCopy(in.memory, in.process);
  }

  // Counts a message into (waits) or out of what waits, per process and in all.
  void account(const Incoming& in, bool waits) {
    Share& mine = waitingPerProcess[in.process];
    if (waits) {
      ++mine.messages;
      mine.bytes += in.bytes;
      ++waitingInAll.messages;
      waitingInAll.bytes += in.bytes;
      return;
    }
    --mine.messages;
    mine.bytes -= in.bytes;
    --waitingInAll.messages;
    waitingInAll.bytes -= in.bytes;
    if (mine.messages == 0) waitingPerProcess.erase(in.process);
  }

  void endWindow(HWND window) {
    auto it = conversations.find(window);
    if (it == conversations.end()) return;
    Conversation& conversation = it->second;
    for (const Incoming& in : conversation.queue) {
      account(in, false);
      discard(in);
    }
    for (const Sent& sent : conversation.unacknowledged) {
      if (sent.block) GlobalFree(sent.block);
      if (sent.atom) GlobalDeleteAtom(sent.atom);
    }
    for (const auto& sent : conversation.linkData) {
      if (sent.second) GlobalFree(sent.second);
    }
    windows.erase(conversation.id);
    conversations.erase(it);
    DestroyWindow(window);
  }

  void left(HWND client) {
    if (!listener || !leaving.insert(client).second) return;
    PostMessageW(listener, kClientLeft, 0, reinterpret_cast<LPARAM>(client));
  }

  // A client window that left: its conversations end as if it had terminated them.
  void clientGone(HWND client) {
    leaving.erase(client);
    std::vector<HWND> ended;
    for (const auto& [window, conversation] : conversations) {
      if (conversation.client == client) ended.push_back(window);
    }
    for (HWND window : ended) {
      auto it = conversations.find(window);
      if (it == conversations.end()) continue;
      Incoming in;
      in.message = WM_DDE_TERMINATE;
      in.window = window;
      in.client = client;
      in.process = it->second.process;
      in.conversation = it->second.id;
      in.quiet = true;
      run(std::move(in));
      endWindow(window);
    }
  }

  // --- Receiving.
  Incoming decode(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Incoming in;
    in.message = message;
    in.window = window;
    in.client = reinterpret_cast<HWND>(wParam);
    if (auto it = conversations.find(window); it != conversations.end()) {
      in.conversation = it->second.id;
      in.process = it->second.client == in.client ? it->second.process : processOf(in.client);
    } else {
      in.process = processOf(in.client);
    }
    UINT_PTR low = 0, high = 0;
    switch (message) {
      case WM_DDE_REQUEST:
      case WM_DDE_UNADVISE:
        in.format = LOWORD(lParam);
        in.atom = HIWORD(lParam);
        break;
      case WM_DDE_ADVISE:
        UnpackDDElParam(message, lParam, &low, &high);
        FreeDDElParam(message, lParam);
        in.memory = reinterpret_cast<HGLOBAL>(low);
        in.atom = static_cast<ATOM>(high);
        if (auto options = win::readAdviseBlock(in.memory)) {
          in.format = static_cast<std::uint16_t>(options->format);
          in.deferUpdate = options->deferUpdate;
          in.ackRequested = options->ackRequested;
        }
        break;
      case WM_DDE_POKE:
        UnpackDDElParam(message, lParam, &low, &high);
        FreeDDElParam(message, lParam);
        in.memory = reinterpret_cast<HGLOBAL>(low);
        in.atom = static_cast<ATOM>(high);
        break;
      case WM_DDE_EXECUTE:
        in.memory = reinterpret_cast<HGLOBAL>(lParam);
        in.unreadable = !in.memory || GlobalSize(in.memory) == 0;
        // Copied out now, as much as a command can use: the client frees the block when it
        // has our acknowledgement.
        if (!in.unreadable) {
          in.command = firstCharacters(
              win::readExecuteBlock(in.memory, IsWindowUnicode(in.client) && IsWindowUnicode(window)), kCommandKeep);
        }
        break;
      default:
        break;
    }
    // The block stays ours until the answer, whatever is kept of it. (The item's name, at most
    // 255 characters, is looked up once the message is taken.)
    in.bytes = kMessageBytes + in.command.size() + (in.memory ? GlobalSize(in.memory) : 0);
    return in;
  }

  static dde::Method method(UINT message) {
    switch (message) {
      case WM_DDE_REQUEST: return dde::Method::Request;
      case WM_DDE_ADVISE: return dde::Method::Advise;
      case WM_DDE_UNADVISE: return dde::Method::Unadvise;
      case WM_DDE_EXECUTE: return dde::Method::Execute;
      case WM_DDE_POKE: return dde::Method::Poke;
      default: return dde::Method::Terminate;
    }
  }

  // What its own arguments decide is answered at once; the rest waits in its conversation's
  // queue, within the bounds, for its turn.
  void arrive(Incoming in) {
    if (!server) return;
    auto conversation = conversations.find(in.window);
    if (in.unreadable || conversation == conversations.end()) {
      negative(in, win::kAckNegative);
      return;
    }
    // A terminate always waits its turn; one message of a process may wait whatever its
    // size, so that a big execute is taken when nothing else of its sender waits. Beyond the
    // bounds, the answer costs no more than the message took to arrive.
    auto mine = waitingPerProcess.find(in.process);
    const Share share = mine == waitingPerProcess.end() ? Share{} : mine->second;
    if (in.message != WM_DDE_TERMINATE &&
        (share.messages >= kMaxWaitingMessagesPerClient || waitingInAll.messages >= kMaxWaitingMessages ||
         (share.messages > 0 && (share.bytes + in.bytes > kMaxWaitingBytesPerClient ||
                                 waitingInAll.bytes + in.bytes > kMaxWaitingBytes)))) {
      negative(in, win::kAckBusy);
      return;
    }
    in.item = win::atomName(in.atom);
    if (auto refused = server->refusal(method(in.message), clientKey(in.process), in.conversation, in.item, {},
                                       in.format)) {
      negative(in, refused->error == dde::DdeError::Busy ? win::kAckBusy : win::kAckNegative);
      return;
    }
    account(in, true);
    Conversation& waiting = conversation->second;
    if (waiting.queue.empty()) turn.push_back(waiting.id);
    waiting.queue.push_back(std::move(in));
    serve();
  }

  // Takes the DDE messages waiting in this thread's queue into the conversations' own
  // queues, so that they do not fill it (real Windows refuses posts beyond 10,000), and so
  // that one client's thousand posted messages do not stand in front of another's one: while
  // more wait than one look takes, each conversation with nothing to do also takes its own
  // next message out of the thread's queue, wherever it stands. Returns whether there were any.
  bool intake() {
    int taken = 0;
    while (taken < kIntakeBatch && takeMessage(nullptr)) ++taken;
    if (taken < kIntakeBatch) return taken > 0;
    std::vector<HWND> idle;
    for (const auto& [window, conversation] : conversations) {
      if (conversation.queue.empty()) idle.push_back(window);
    }
    for (HWND window : idle) {
      if (conversations.count(window)) takeMessage(window);
    }
    return true;
  }

  // Takes one DDE message of `window` (of any window when null) and handles it. The quit
  // message comes out whatever the filter says: it goes back for the message loop to end on.
  static bool takeMessage(HWND window) {
    MSG message;
    if (!PeekMessageW(&message, window, WM_DDE_FIRST, WM_DDE_LAST, PM_REMOVE)) return false;
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    DispatchMessageW(&message);
    return true;
  }

  // Serves the conversations in turn, one message each, while nothing holds; after a slice
  // of time the message loop has its turn and serving goes on after it.
  void serve() {
    if (serving || !server || holding()) return;
    serving = true;
    const ULONGLONG start = GetTickCount64();
    int sinceLook = 0;
    while (server && !holding()) {
      if (!gone.empty()) {
        const HWND client = gone.front();
        gone.pop_front();
        clientGone(client);
        continue;
      }
      // A look at the thread's queue also ends each slice, so that however slowly messages
      // are served, what waits there is taken in.
      const bool sliceOver = GetTickCount64() - start >= kServeSliceMs;
      if (sliceOver || sinceLook >= kServedBetweenLooks || turn.empty()) {
        sinceLook = 0;
        const bool more = intake();
        if (sliceOver && !holding() && (!turn.empty() || !gone.empty() || more)) {
          if (!resumePosted) resumePosted = PostMessageW(listener, kResume, 0, 0);
          break;
        }
        if (sliceOver || (!more && turn.empty() && gone.empty())) break;
        continue;
      }
      const dde::ConversationId id = turn.front();
      turn.pop_front();
      auto window = windows.find(id);
      if (window == windows.end()) continue;
      Conversation& conversation = conversations.at(window->second);
      if (conversation.queue.empty()) continue;
      Incoming in = std::move(conversation.queue.front());
      conversation.queue.pop_front();
      if (!conversation.queue.empty()) turn.push_back(id);
      account(in, false);
      ++sinceLook;
      run(std::move(in));
    }
    serving = false;
  }

  void run(Incoming in) {
    const std::string key = clientKey(in.process);
    ++running;
    const dde::ReplyToken token = nextToken++;
    const dde::ConversationId id = in.conversation;
    const UINT message = in.message;
    pending.emplace(token, std::move(in));
    const Incoming& held = pending.at(token);
    // Copies: the server answers (and so erases the pending message) inside these calls.
    const std::string item = held.item, command = held.command;
    const std::uint32_t format = held.format;
    const bool defer = held.deferUpdate, ackRequested = held.ackRequested;
    switch (message) {
      case WM_DDE_REQUEST: server->handleRequest(token, key, id, item, format); break;
      case WM_DDE_ADVISE: server->handleAdvise(token, key, id, item, format, defer, ackRequested); break;
      case WM_DDE_UNADVISE: server->handleUnadvise(token, key, id, item, format); break;
      case WM_DDE_EXECUTE: server->handleExecute(token, key, id, command); break;
      case WM_DDE_POKE: server->handlePoke(token, key, id); break;
      case WM_DDE_TERMINATE: server->handleTerminate(token, key, id); break;
      default: pending.erase(token); break;
    }
    --running;
  }

  void initiate(WPARAM wParam, LPARAM lParam) {
    Incoming in;
    in.message = WM_DDE_INITIATE;
    in.window = listener;
    in.client = reinterpret_cast<HWND>(wParam);
    // Not our own broadcast, nor a client that did not take an earlier answer.
    if (!server || conversations.count(in.client) || in.client == listener || unanswered.count(in.client)) return;
    in.process = processOf(in.client);
    const std::string key = clientKey(in.process);
    // The last conversations are kept for clients that hold none.
    if (server->hasConversationsOf(key) && server->conversationCount() + kConversationsKeptFree >= dde::kMaxConversations)
      return;
    const std::string application = win::atomName(LOWORD(lParam));
    const std::string topicName = win::atomName(HIWORD(lParam));
    const dde::ReplyToken token = nextToken++;
    pending.emplace(token, in);
    server->handleInitiate(token, key, application, topicName);
    pending.erase(token);
  }

  void acknowledged(HWND window, LPARAM lParam) {
    UINT_PTR status = 0, item = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
    FreeDDElParam(WM_DDE_ACK, lParam);
    auto it = conversations.find(window);
    if (it != conversations.end() && linkDataAcknowledged(it->second, static_cast<ATOM>(item), status)) return;
    if (it != conversations.end() && it->second.forgotten > 0) {
      // For a block given up on: its atom reference went with it.
      --it->second.forgotten;
      return;
    }
    if (item) GlobalDeleteAtom(static_cast<ATOM>(item));
    if (it == conversations.end() || it->second.unacknowledged.empty()) return;
    const Sent sent = it->second.unacknowledged.front();
    it->second.unacknowledged.pop_front();
    if (sent.block && !(status & win::kAckPositive)) GlobalFree(sent.block);
  }

  // The acknowledgement of an acknowledged link's Data message: the oldest one outstanding
  // for the item. The server then sends the link's next value, if one waits.
  bool linkDataAcknowledged(Conversation& conversation, ATOM item, UINT_PTR status) {
    auto& sent = conversation.linkData;
    if (sent.empty()) return false;
    const std::wstring name = toWide(win::atomName(item));
    auto it = std::find_if(sent.begin(), sent.end(), [&](const auto& s) {
      return CompareStringOrdinal(toWide(s.first).c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
    });
    if (it == sent.end()) return false;
    if (item) GlobalDeleteAtom(item);
    if (it->second && !(status & win::kAckPositive)) GlobalFree(it->second);
    const std::string itemName = it->first;
    sent.erase(it);
    if (server) server->handleDataAck(clientKey(conversation.process), conversation.id, itemName);
    return true;
  }

  // The answer of another server to our own initiate, at start.
  void otherServer(WPARAM wParam, LPARAM lParam) {
    ++otherServers;
    GlobalDeleteAtom(LOWORD(lParam));
    GlobalDeleteAtom(HIWORD(lParam));
    PostMessageW(reinterpret_cast<HWND>(wParam), WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(listener), 0);
  }

  void sweep() {
    for (const auto& [window, conversation] : conversations) {
      if (!IsWindow(conversation.client)) left(conversation.client);
    }
    for (auto it = unanswered.begin(); it != unanswered.end();) {
      it = IsWindow(*it) ? std::next(it) : unanswered.erase(it);
    }
  }

  LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_DDE_INITIATE:
        if (window == listener) initiate(wParam, lParam);
        return 0;
      case WM_DDE_ACK:
        if (window != listener) {
          acknowledged(window, lParam);
        } else if (probing) {
          otherServer(wParam, lParam);
        }
        return 0;
      case WM_DDE_REQUEST:
      case WM_DDE_ADVISE:
      case WM_DDE_UNADVISE:
      case WM_DDE_EXECUTE:
      case WM_DDE_POKE:
      case WM_DDE_TERMINATE:
        arrive(decode(window, message, wParam, lParam));
        return 0;
      case kClientLeft:
        gone.push_back(reinterpret_cast<HWND>(lParam));
        serve();
        return 0;
      case kResume:
        resumePosted = false;
        serve();
        return 0;
      case WM_TIMER:
        if (wParam == kSweepTimer) {
          sweep();
          serve();
        }
        return 0;
      default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
  }

  // The listening window is top-level, to receive broadcasts; a conversation's window is
  // message-only: cheap to make, and no broadcast reaches it.
  HWND makeWindow(HWND parent) {
    return CreateWindowExW(0, kWindowClass, L"Kelvor DDE", parent ? 0 : WS_POPUP, 0, 0, 0, 0, parent, nullptr,
                           GetModuleHandleW(nullptr), this);
  }

  // Takes the message a token stands for out of the pending ones.
  std::optional<Incoming> take(dde::ReplyToken token) {
    auto it = pending.find(token);
    if (it == pending.end()) return std::nullopt;
    Incoming in = std::move(it->second);
    pending.erase(it);
    return in;
  }
};

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* impl = reinterpret_cast<Win32DdeTransport::Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!impl) return DefWindowProcW(window, message, wParam, lParam);
  return impl->handle(window, message, wParam, lParam);
}

}  // namespace

Win32DdeTransport::Win32DdeTransport() : impl_(std::make_unique<Impl>()) {}

Win32DdeTransport::~Win32DdeTransport() { close(); }

bool Win32DdeTransport::isStarted() const { return impl_->server != nullptr; }

std::size_t Win32DdeTransport::unacknowledgedCount() const {
  std::size_t kept = 0;
  for (const auto& [window, conversation] : impl_->conversations) kept += conversation.unacknowledged.size();
  return kept;
}

void Win32DdeTransport::setHold(std::function<bool()> held) { impl_->held = std::move(held); }

void Win32DdeTransport::setNotices(Notices* notices) { impl_->notices = notices; }

void Win32DdeTransport::resume() {
  Impl& d = *impl_;
  if (d.listener && (d.waitingInAll.messages > 0 || !d.gone.empty()) && !d.resumePosted) {
    d.resumePosted = PostMessageW(d.listener, kResume, 0, 0);
  }
}

bool Win32DdeTransport::isServiceName(std::string_view name, std::string& rule) const {
  rule = "a DDE service name has 1 to 255 characters";
  return !name.empty() && toWide(name).size() <= dde::kMaxNameLength;
}

bool Win32DdeTransport::start(const std::string& service, dde::DdeServer& server, std::string& error) {
  Impl& d = *impl_;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    error = "Kelvor could not make its DDE window, so it runs without its DDE server.";
    return false;
  }
  d.service = toWide(service);
  d.topic = L"System";
  d.listener = d.makeWindow(nullptr);
  if (!d.listener) {
    error = "Kelvor could not make its DDE window, so it runs without its DDE server.";
    return false;
  }
  // A second server of the same names would split the clients between the two: whoever
  // answers first gets each one. Another program (a Kelvor in another folder) that already
  // answers keeps the name.
  d.probing = true;
  d.otherServers = 0;
  const ATOM application = GlobalAddAtomW(d.service.c_str());
  const ATOM topic = GlobalAddAtomW(d.topic.c_str());
  SendMessageTimeoutW(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(d.listener),
                      MAKELPARAM(application, topic), SMTO_ABORTIFHUNG | SMTO_NORMAL, kProbeMs, nullptr);
  GlobalDeleteAtom(application);
  GlobalDeleteAtom(topic);
  d.probing = false;
  if (d.otherServers > 0) {
    DestroyWindow(d.listener);
    d.listener = nullptr;
    error = "Another program already serves DDE as \"" + service + "\", so this Kelvor runs without its DDE server.";
    return false;
  }
  d.server = &server;
  SetTimer(d.listener, kSweepTimer, kSweepMs, nullptr);
  return true;
}

void Win32DdeTransport::close() {
  Impl& d = *impl_;
  if (!d.server) return;
  d.server->close();  // pending requests are answered Terminated: their atoms are freed
  d.server = nullptr;
  d.turn.clear();
  d.gone.clear();
  while (!d.conversations.empty()) {
    auto it = d.conversations.begin();
    if (IsWindow(it->second.client)) {
      PostMessageW(it->second.client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(it->first), 0);
    }
    d.endWindow(it->first);
  }
  d.waitingPerProcess.clear();
  d.waitingInAll = {};
  KillTimer(d.listener, kSweepTimer);
  DestroyWindow(d.listener);
  d.listener = nullptr;
  d.leaving.clear();
  d.unanswered.clear();
}

void Win32DdeTransport::replyEmpty(dde::ReplyToken token) {
  if (auto in = impl_->take(token)) impl_->positive(*in);
}

void Win32DdeTransport::replyConversation(dde::ReplyToken token, dde::ConversationId conversation) {
  Impl& d = *impl_;
  auto in = d.take(token);
  if (!in) return;
  HWND window = d.makeWindow(HWND_MESSAGE);
  if (!window) {
    // Without a window the conversation cannot be held: the client hears nothing.
    d.left(in->client);
    return;
  }
  Impl::Conversation& made = d.conversations[window];
  made.id = conversation;
  made.client = in->client;
  made.process = in->process;
  d.windows[conversation] = window;
  const ATOM application = GlobalAddAtomW(d.service.c_str());
  const ATOM topic = GlobalAddAtomW(d.topic.c_str());
  // The client waits in SendMessage for its answers and deletes these atoms. One that does
  // not take the answer within the time (it posted its initiate, or it hangs) must not stop
  // Kelvor: it is not answered again, and its conversation ends.
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(in->client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), MAKELPARAM(application, topic),
                           SMTO_ABORTIFHUNG | SMTO_NORMAL, kInitiateAnswerMs, &result)) {
    if (IsWindow(in->client)) d.unanswered.insert(in->client);
    d.left(in->client);
    return;
  }
  if (!IsWindow(in->client)) d.left(in->client);
}

void Win32DdeTransport::replyData(dde::ReplyToken token, const std::string& block) {
  Impl& d = *impl_;
  auto in = d.take(token);
  if (!in) return;
  auto conversation = d.conversations.find(in->window);
  HGLOBAL data = win::makeDataBlock(win::toCfText(block), true, true);
  if (conversation == d.conversations.end() || !data) {
    if (data) {
      GlobalFree(data);
    } else {
      d.say(in->window, kSaidNoMemory, "Kelvor could not allocate memory for a DDE answer: a client was told to try again later.");
    }
    d.negative(*in, win::kAckBusy);
    return;
  }
  // The request's item atom goes back with the data; the client's acknowledgement returns it.
  const LPARAM lParam = PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(data), in->atom);
  if (!d.post(in->client, WM_DDE_DATA, in->window, lParam)) {
    FreeDDElParam(WM_DDE_DATA, lParam);
    GlobalFree(data);
    if (in->atom) GlobalDeleteAtom(in->atom);
    return;
  }
  Impl::Conversation& mine = conversation->second;
  if (mine.process != GetCurrentProcessId()) {
    releaseCopy(data, mine.process);
    data = nullptr;
  }
  // A client that never acknowledges (Wine's DDEML does not) would have every block and
  // atom kept for it: beyond a few, the oldest are given up.
  mine.unacknowledged.push_back({data, in->atom});
  if (mine.unacknowledged.size() > kMaxUnacknowledgedPerConversation) {
    const Impl::Sent oldest = mine.unacknowledged.front();
    mine.unacknowledged.pop_front();
    if (oldest.block) GlobalFree(oldest.block);
    if (oldest.atom) GlobalDeleteAtom(oldest.atom);
    ++mine.forgotten;
  }
}

void Win32DdeTransport::replyError(dde::ReplyToken token, dde::DdeError error, const std::string&) {
  Impl& d = *impl_;
  auto in = d.take(token);
  if (!in) return;
  switch (error) {
    case dde::DdeError::Terminated:
      // The conversation has ended: nothing more is posted for it.
      if (in->atom) GlobalDeleteAtom(in->atom);
      break;
    case dde::DdeError::Busy:
      d.negative(*in, win::kAckBusy);
      break;
    default:
      d.negative(*in, win::kAckNegative);
  }
}

void Win32DdeTransport::sendData(const std::string&, dde::ConversationId conversation, const std::string& item,
                                 std::uint32_t, const std::string& block, bool ackRequested) {
  Impl& d = *impl_;
  auto window = d.windows.find(conversation);
  if (window == d.windows.end()) return;
  const HWND client = d.conversations.at(window->second).client;
  // A warm link is told of the change without a block.
  HGLOBAL data = block.empty() ? nullptr : win::makeDataBlock(win::toCfText(block), false, ackRequested);
  const ATOM atom = (block.empty() || data) ? GlobalAddAtomW(toWide(item).c_str()) : 0;
  if (!atom) {
    // This change is lost for this link; the link stays, and the next change tries again.
    if (data) GlobalFree(data);
    d.say(window->second, kSaidNoMemory,
          "Kelvor could not allocate memory for a DDE hot link's value: that value was not sent; the link stays.");
    return;
  }
  const LPARAM lParam = PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(data), atom);
  if (!d.post(client, WM_DDE_DATA, window->second, lParam)) {
    FreeDDElParam(WM_DDE_DATA, lParam);
    if (data) GlobalFree(data);
    GlobalDeleteAtom(atom);
    return;
  }
  Impl::Conversation& mine = d.conversations.at(window->second);
  if (mine.process != GetCurrentProcessId()) {
    releaseCopy(data, mine.process);
    data = nullptr;
  }
  // The client's acknowledgement returns the atom; a negative one gives back the block.
  if (ackRequested) mine.linkData.emplace_back(item, data);
}

}  // namespace kelvor
