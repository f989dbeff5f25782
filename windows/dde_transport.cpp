#include "windows/dde_transport.h"

#include <windows.h>
#include <dde.h>

#include <cstdio>
#include <deque>
#include <map>
#include <set>
#include <unordered_map>

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

std::string clientKey(HWND client) {
  char key[32];
  std::snprintf(key, sizeof key, "hwnd:%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(client)));
  return key;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// One DDE message as it arrived, decoded, with what it handed over: the item atom and the
// memory block the answer must return or free.
struct Incoming {
  UINT message = 0;  // WM_DDE_*, or kClientLeft
  HWND window = nullptr;
  HWND client = nullptr;
  dde::ConversationId conversation = 0;
  std::string item;
  std::uint32_t format = 0;
  bool deferUpdate = false;
  std::string command;
  ATOM atom = 0;
  HGLOBAL memory = nullptr;  // advise options, poke data or execute commands
};

}  // namespace

struct Win32DdeTransport::Impl {
  struct Conversation {
    dde::ConversationId id = 0;
    HWND client = nullptr;
    // Blocks sent with an acknowledgement asked for, in order: a negative acknowledgement
    // gives a block back to us to free.
    std::deque<HGLOBAL> unacknowledged;
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
  std::deque<Incoming> waiting;
  std::unordered_map<HWND, std::size_t> waitingPerClient;
  std::set<HWND> leaving;

  bool holding() const { return running > 0 || (held && held()); }

  // --- Sending. A failed post means the client has gone.
  bool post(HWND client, UINT message, HWND from, LPARAM lParam) {
    if (IsWindow(client) && PostMessageW(client, message, reinterpret_cast<WPARAM>(from), lParam)) return true;
    left(client);
    return false;
  }

  void ack(const Incoming& in, WORD status, UINT_PTR high) {
    const LPARAM lParam = PackDDElParam(WM_DDE_ACK, status, high);
    if (!post(in.client, WM_DDE_ACK, in.window, lParam)) {
      FreeDDElParam(WM_DDE_ACK, lParam);
      if (in.message != WM_DDE_EXECUTE && high) GlobalDeleteAtom(static_cast<ATOM>(high));
    }
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
        if (poke && poke->release) GlobalFree(in.memory);
        ack(in, win::kAckPositive, in.atom);
        break;
      }
      case WM_DDE_TERMINATE:
        post(in.client, WM_DDE_TERMINATE, in.window, 0);
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
        ack(in, status, reinterpret_cast<UINT_PTR>(in.memory));
        break;
      case WM_DDE_TERMINATE: {
        // Only the conversation's own client can end it; anyone else just hears the answer.
        post(in.client, WM_DDE_TERMINATE, in.window, 0);
        auto it = conversations.find(in.window);
        if (it != conversations.end() && it->second.client == in.client) endWindow(in.window);
        break;
      }
      default:
        ack(in, status, in.atom);
    }
  }

  void endWindow(HWND window) {
    auto it = conversations.find(window);
    if (it == conversations.end()) return;
    for (HGLOBAL block : it->second.unacknowledged) GlobalFree(block);
    windows.erase(it->second.id);
    conversations.erase(it);
    DestroyWindow(window);
  }

  void left(HWND client) {
    if (!listener || !leaving.insert(client).second) return;
    PostMessageW(listener, kClientLeft, 0, reinterpret_cast<LPARAM>(client));
  }

  // --- Receiving.
  Incoming decode(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Incoming in;
    in.message = message;
    in.window = window;
    in.client = reinterpret_cast<HWND>(wParam);
    if (auto it = conversations.find(window); it != conversations.end()) in.conversation = it->second.id;
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
        // Copied out now: the client frees the block when it has our acknowledgement.
        in.command = win::readExecuteBlock(in.memory, IsWindowUnicode(in.client) && IsWindowUnicode(window));
        break;
      default:
        break;
    }
    in.item = win::atomName(in.atom);
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

  void arrive(Incoming in) {
    if (!server) return;
    if (in.message != kClientLeft && (holding() || !waiting.empty())) {
      const std::string key = clientKey(in.client);
      if (auto refused = server->refusal(method(in.message), key, in.conversation, in.item, {}, in.format)) {
        negative(in, win::kAckNegative);
        return;
      }
      std::size_t& mine = waitingPerClient[in.client];
      if (mine >= kMaxWaitingMessagesPerClient || waiting.size() >= kMaxWaitingMessages) {
        if (mine == 0) waitingPerClient.erase(in.client);
        negative(in, win::kAckBusy);
        return;
      }
      ++mine;
      waiting.push_back(std::move(in));
      return;
    }
    if (in.message == kClientLeft && holding()) {
      waiting.push_back(std::move(in));
      return;
    }
    run(std::move(in));
    drain();
  }

  void drain() {
    while (!waiting.empty() && !holding() && server) {
      Incoming in = std::move(waiting.front());
      waiting.pop_front();
      if (in.message != kClientLeft) {
        auto it = waitingPerClient.find(in.client);
        if (it != waitingPerClient.end() && --it->second == 0) waitingPerClient.erase(it);
      }
      run(std::move(in));
    }
  }

  void run(Incoming in) {
    const std::string key = clientKey(in.client);
    if (in.message == kClientLeft) {
      leaving.erase(in.client);
      server->clientLeft(key);
      std::vector<HWND> gone;
      for (const auto& [window, conversation] : conversations) {
        if (conversation.client == in.client) gone.push_back(window);
      }
      for (HWND window : gone) endWindow(window);
      return;
    }
    ++running;
    const dde::ReplyToken token = nextToken++;
    const dde::ConversationId id = in.conversation;
    const UINT message = in.message;
    pending.emplace(token, std::move(in));
    const Incoming& held = pending.at(token);
    // Copies: the server answers (and so erases the pending message) inside these calls.
    const std::string item = held.item, command = held.command;
    const std::uint32_t format = held.format;
    const bool defer = held.deferUpdate;
    switch (message) {
      case WM_DDE_REQUEST: server->handleRequest(token, key, id, item, format); break;
      case WM_DDE_ADVISE: server->handleAdvise(token, key, id, item, format, defer); break;
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
    if (!server || conversations.count(in.client) || in.client == listener) return;  // our own broadcast
    const std::string application = win::atomName(LOWORD(lParam));
    const std::string topicName = win::atomName(HIWORD(lParam));
    const dde::ReplyToken token = nextToken++;
    pending.emplace(token, in);
    server->handleInitiate(token, clientKey(in.client), application, topicName);
    pending.erase(token);
  }

  void acknowledged(HWND window, LPARAM lParam) {
    UINT_PTR status = 0, item = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
    FreeDDElParam(WM_DDE_ACK, lParam);
    if (item) GlobalDeleteAtom(static_cast<ATOM>(item));
    auto it = conversations.find(window);
    if (it == conversations.end() || it->second.unacknowledged.empty()) return;
    HGLOBAL block = it->second.unacknowledged.front();
    it->second.unacknowledged.pop_front();
    if (!(status & win::kAckPositive)) GlobalFree(block);
  }

  void sweep() {
    for (const auto& [window, conversation] : conversations) {
      if (!IsWindow(conversation.client)) left(conversation.client);
    }
  }

  LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_DDE_INITIATE:
        if (window == listener) initiate(wParam, lParam);
        return 0;
      case WM_DDE_ACK:
        acknowledged(window, lParam);
        return 0;
      case WM_DDE_REQUEST:
      case WM_DDE_ADVISE:
      case WM_DDE_UNADVISE:
      case WM_DDE_EXECUTE:
      case WM_DDE_POKE:
      case WM_DDE_TERMINATE:
        arrive(decode(window, message, wParam, lParam));
        return 0;
      case kClientLeft: {
        Incoming in;
        in.message = kClientLeft;
        in.client = reinterpret_cast<HWND>(lParam);
        arrive(std::move(in));
        return 0;
      }
      case kResume:
        drain();
        return 0;
      case WM_TIMER:
        if (wParam == kSweepTimer) {
          sweep();
          drain();
        }
        return 0;
      default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
  }

  HWND makeWindow() {
    return CreateWindowExW(0, kWindowClass, L"Kelvor DDE", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
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

void Win32DdeTransport::setHold(std::function<bool()> held) { impl_->held = std::move(held); }

void Win32DdeTransport::resume() {
  if (impl_->listener && !impl_->waiting.empty()) PostMessageW(impl_->listener, kResume, 0, 0);
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
  d.listener = d.makeWindow();
  if (!d.listener) {
    error = "Kelvor could not make its DDE window, so it runs without its DDE server.";
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
  for (Incoming& in : d.waiting) {
    if (in.atom) GlobalDeleteAtom(in.atom);
  }
  d.waiting.clear();
  d.waitingPerClient.clear();
  while (!d.conversations.empty()) {
    auto it = d.conversations.begin();
    if (IsWindow(it->second.client)) {
      PostMessageW(it->second.client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(it->first), 0);
    }
    d.endWindow(it->first);
  }
  KillTimer(d.listener, kSweepTimer);
  DestroyWindow(d.listener);
  d.listener = nullptr;
  d.leaving.clear();
}

void Win32DdeTransport::replyEmpty(dde::ReplyToken token) {
  if (auto in = impl_->take(token)) impl_->positive(*in);
}

void Win32DdeTransport::replyConversation(dde::ReplyToken token, dde::ConversationId conversation) {
  Impl& d = *impl_;
  auto in = d.take(token);
  if (!in) return;
  HWND window = d.makeWindow();
  if (!window) {
    // Without a window the conversation cannot be held: the client hears nothing.
    d.left(in->client);
    return;
  }
  d.conversations[window] = Impl::Conversation{conversation, in->client, {}};
  d.windows[conversation] = window;
  const ATOM application = GlobalAddAtomW(d.service.c_str());
  const ATOM topic = GlobalAddAtomW(d.topic.c_str());
  // The client waits in SendMessage for its answers; it deletes these atoms.
  SendMessageW(in->client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), MAKELPARAM(application, topic));
  if (!IsWindow(in->client)) d.left(in->client);
}

void Win32DdeTransport::replyData(dde::ReplyToken token, const std::string& block) {
  Impl& d = *impl_;
  auto in = d.take(token);
  if (!in) return;
  auto conversation = d.conversations.find(in->window);
  HGLOBAL data = win::makeDataBlock(win::toCfText(block), true, true);
  if (conversation == d.conversations.end() || !data) {
    if (data) GlobalFree(data);
    d.negative(*in, win::kAckBusy);
    return;
  }
  // The request's item atom goes back with the data; the client's acknowledgement returns it.
  const LPARAM lParam = PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(data), in->atom);
  if (d.post(in->client, WM_DDE_DATA, in->window, lParam)) {
    conversation->second.unacknowledged.push_back(data);
  } else {
    FreeDDElParam(WM_DDE_DATA, lParam);
    GlobalFree(data);
    if (in->atom) GlobalDeleteAtom(in->atom);
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
                                 std::uint32_t, const std::string& block) {
  Impl& d = *impl_;
  auto window = d.windows.find(conversation);
  if (window == d.windows.end()) return;
  const HWND client = d.conversations.at(window->second).client;
  // A warm link is told of the change without a block.
  HGLOBAL data = block.empty() ? nullptr : win::makeDataBlock(win::toCfText(block), false, false);
  if (!block.empty() && !data) return;
  const ATOM atom = GlobalAddAtomW(toWide(item).c_str());
  const LPARAM lParam = PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(data), atom);
  if (!d.post(client, WM_DDE_DATA, window->second, lParam)) {
    FreeDDElParam(WM_DDE_DATA, lParam);
    if (data) GlobalFree(data);
    GlobalDeleteAtom(atom);
  }
}

}  // namespace kelvor
