// A DDE client that speaks the raw WM_DDE messages, for the end-to-end tests: one
// conversation, the steps of its command line in order, one line of output for each answer.
//   connect APP TOPIC   initiate ('' for a null name); prints "connected N" (servers that
//                       answered). Without it, the client connects to Kelvor / System first.
//   request ITEM [FMT]  prints "data ITEM TEXT" (with "response" and "ackreq" flags shown),
//                       or "ack positive|negative|busy"; postrequest ITEM: posts the request
//                       and goes on, its answer is printed when it comes (a later connect
//                       keeps it pending on the conversation before)
//   advise ITEM [FMT]   hot link; warm ITEM: a link told of changes without data;
//                       ackadvise ITEM: a hot link whose data the client acknowledges
//   ackdelay MS         acknowledges a link's data only MS milliseconds after it came, as a
//                       slow program does (it handles nothing meanwhile)
//   say TEXT            prints TEXT (marks a point in the output)
//   unadvise ITEM       ('' for every item)
//   execute COMMAND     prints the acknowledgement and "same-block" when the server
//                       returned the command's own memory block
//   poke ITEM TEXT
//   wait MS             prints what arrives meanwhile (data of links, a terminate)
//   flood ITEM N MS     posts N requests at once, then counts the answers until all came
//                       or MS milliseconds passed: prints "flood data D busy B negative G"
//   stream ITEM N       posts N requests, at most 256 unanswered at a time: prints
//                       "stream data D busy B negative G"
//   noack               from here on, data asking for an acknowledgement gets none (as
//                       Wine's DDEML does with the answers to its requests)
//   bigexec N BYTES MS  posts N executes of BYTES characters each at once, then counts the
//                       answers like flood: "bigexec positive P busy B negative G"
//   hang N MS           from a window of its own, posts N initiates to every window and
//                       sleeps MS milliseconds without taking its messages: "hung"
//   many N              opens N conversations, each from a window of its own, as DDEML
//                       does: "many connected C"
//   terminate           prints "terminated" when the server answers
// Texts are printed as UTF-8; an answer that does not come within 10 seconds prints "timeout".

#include <windows.h>
#include <dde.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace {

using namespace kelvor::win;

HWND self = nullptr;
HWND server = nullptr;
int answered = 0;      // servers that acknowledged the initiate
bool gotAnswer = false;  // the answer the current step waits for
bool counting = false;   // a flood's answers are counted, not printed
bool acknowledging = true;
int floodData = 0, floodBusy = 0, floodNegative = 0;
DWORD ackDelayMs = 0;
HGLOBAL sentBlock = nullptr;  // the block of the step waiting for its acknowledgement
UINT sentMessage = 0;

void print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string status(UINT_PTR word) {
  if (word & kAckPositive) return "positive";
  return (word & kAckBusy) ? "busy" : "negative";
}

void onData(LPARAM lParam) {
  UINT_PTR low = 0, high = 0;
  UnpackDDElParam(WM_DDE_DATA, lParam, &low, &high);
  FreeDDElParam(WM_DDE_DATA, lParam);
  auto data = reinterpret_cast<HGLOBAL>(low);
  const auto atom = static_cast<ATOM>(high);
  const std::string item = atomName(atom);
  if (!data) {
    print("warm " + item);
    GlobalDeleteAtom(atom);
    return;
  }
  const auto block = readDataBlock(data);
  std::string flags = block && block->response ? " response" : "";
  if (block && block->ackRequested) flags += " ackreq";
  if (counting) {
    ++floodData;
  } else {
    print("data " + item + flags + " " + (block ? fromCfText(block->text) : std::string("<unreadable>")));
  }
  if (block && block->response) gotAnswer = true;
  if (block && block->ackRequested && acknowledging) {
    if (!block->response && ackDelayMs) Sleep(ackDelayMs);
    PostMessageW(server, WM_DDE_ACK, reinterpret_cast<WPARAM>(self), PackDDElParam(WM_DDE_ACK, kAckPositive, atom));
  } else if (!block || !block->ackRequested) {
    GlobalDeleteAtom(atom);
  }
  if (block && block->release) GlobalFree(data);
}

void onAck(WPARAM wParam, LPARAM lParam) {
  if (!server) {  // an answer to the initiate, sent: the atoms are ours to delete
    if (answered++ == 0) {
      server = reinterpret_cast<HWND>(wParam);
    } else {
      PostMessageW(reinterpret_cast<HWND>(wParam), WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(self), 0);
    }
    GlobalDeleteAtom(LOWORD(lParam));
    GlobalDeleteAtom(HIWORD(lParam));
    return;
  }
  UINT_PTR word = 0, high = 0;
  UnpackDDElParam(WM_DDE_ACK, lParam, &word, &high);
  FreeDDElParam(WM_DDE_ACK, lParam);
  std::string line = "ack " + status(word);
  if (counting && sentMessage == WM_DDE_EXECUTE) {
    GlobalFree(reinterpret_cast<HGLOBAL>(high));
  } else if (sentMessage == WM_DDE_EXECUTE) {
    if (reinterpret_cast<HGLOBAL>(high) == sentBlock) line += " same-block";
    GlobalFree(sentBlock);
  } else {
    if (high) GlobalDeleteAtom(static_cast<ATOM>(high));
    // A negative answer leaves the block with its sender.
    if (sentBlock && !(word & kAckPositive)) GlobalFree(sentBlock);
  }
  sentBlock = nullptr;
  if (counting) {
    ++((word & kAckPositive) ? floodData : (word & kAckBusy) ? floodBusy : floodNegative);
    return;
  }
  print(line);
  gotAnswer = true;
}

LRESULT CALLBACK clientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DDE_ACK:
      onAck(wParam, lParam);
      return 0;
    case WM_DDE_DATA:
      onData(lParam);
      return 0;
    case WM_DDE_TERMINATE:
      print("terminated");
      gotAnswer = true;
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// Pumps messages until the step's answer came or `ms` passed.
void pump(DWORD ms, bool untilAnswer) {
  gotAnswer = false;
  const DWORD start = GetTickCount();
  MSG message;
  while (!(untilAnswer && gotAnswer)) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= ms) {
      if (untilAnswer) print("timeout");
      return;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

ATOM atom(const std::wstring& name) { return name.empty() ? 0 : GlobalAddAtomW(name.c_str()); }

HWND messageWindow() {
  return CreateWindowExW(0, L"KelvorRawDdeClient", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                         nullptr);
}

int answers() { return floodData + floodBusy + floodNegative; }

void pumpUntil(int count, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (answers() < count && GetTickCount64() < end) pump(50, false);
}

void connect(const std::wstring& application, const std::wstring& topic) {
  server = nullptr;
  answered = 0;
  const ATOM a = atom(application), t = atom(topic);
  SendMessageW(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(self), MAKELPARAM(a, t));
  if (a) GlobalDeleteAtom(a);
  if (t) GlobalDeleteAtom(t);
  print("connected " + std::to_string(answered));
}

void send(UINT message, LPARAM lParam, HGLOBAL block) {
  sentMessage = message;
  sentBlock = block;
  PostMessageW(server, message, reinterpret_cast<WPARAM>(self), lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = clientProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"KelvorRawDdeClient";
  RegisterClassW(&windowClass);
  // Message-only: a client that does not take its messages for a while (a flood) must not
  // hold up other clients' broadcasts.
  self = messageWindow();
  std::vector<std::wstring> args(argv + 1, argv + argc);
  std::size_t i = 0;
  auto next = [&]() { return i < args.size() ? args[i++] : std::wstring(); };
  if (args.empty() || args[0] != L"connect") connect(L"Kelvor", L"System");
  while (i < args.size()) {
    const std::wstring step = next();
    if (step == L"connect") {
      const std::wstring a = next();
      connect(a, next());
      continue;
    }
    if (step == L"flood" && server) {
      const std::wstring item = next();
      const int count = static_cast<int>(std::wcstol(next().c_str(), nullptr, 10));
      const auto ms = static_cast<DWORD>(std::wcstoul(next().c_str(), nullptr, 10));
      counting = true;
      for (int n = 0; n < count; ++n) {
        PostMessageW(server, WM_DDE_REQUEST, reinterpret_cast<WPARAM>(self), MAKELPARAM(CF_TEXT, atom(item)));
      }
      const ULONGLONG end = GetTickCount64() + ms;
      while (floodData + floodBusy + floodNegative < count && GetTickCount64() < end) pump(50, false);
      counting = false;
      print("flood data " + std::to_string(floodData) + " busy " + std::to_string(floodBusy) + " negative " +
            std::to_string(floodNegative));
      continue;
    }
    if (step == L"stream" && server) {
      const std::wstring item = next();
      const int count = static_cast<int>(std::wcstol(next().c_str(), nullptr, 10));
      counting = true;
      floodData = floodBusy = floodNegative = 0;
      for (int n = 0; n < count; ++n) {
        while (n - answers() >= 256) pump(10, false);
        PostMessageW(server, WM_DDE_REQUEST, reinterpret_cast<WPARAM>(self), MAKELPARAM(CF_TEXT, atom(item)));
      }
      pumpUntil(count, 10000);
      counting = false;
      print("stream data " + std::to_string(floodData) + " busy " + std::to_string(floodBusy) + " negative " +
            std::to_string(floodNegative));
      continue;
    }
    if (step == L"bigexec" && server) {
      const int count = static_cast<int>(std::wcstol(next().c_str(), nullptr, 10));
      const std::size_t bytes = std::wcstoul(next().c_str(), nullptr, 10);
      const auto ms = static_cast<DWORD>(std::wcstoul(next().c_str(), nullptr, 10));
      counting = true;
      sentMessage = WM_DDE_EXECUTE;
      floodData = floodBusy = floodNegative = 0;
      const std::string command = "[BIG(" + std::string(bytes, 'x') + ")]";
      for (int n = 0; n < count; ++n) {
        HGLOBAL block = makeExecuteBlock(command, IsWindowUnicode(server));  // (Wine fails on a 2 MiB one)
        PostMessageW(server, WM_DDE_EXECUTE, reinterpret_cast<WPARAM>(self), reinterpret_cast<LPARAM>(block));
      }
      pumpUntil(count, ms);
      counting = false;
      print("bigexec positive " + std::to_string(floodData) + " busy " + std::to_string(floodBusy) + " negative " +
            std::to_string(floodNegative));
      continue;
    }
    if (step == L"noack") {
      acknowledging = false;
      continue;
    }
    if (step == L"hang") {
      const int count = static_cast<int>(std::wcstol(next().c_str(), nullptr, 10));
      const auto ms = static_cast<DWORD>(std::wcstoul(next().c_str(), nullptr, 10));
      // A window no broadcast reaches, so that only the server's answer finds it asleep.
      HWND sleeper = messageWindow();
      for (int n = 0; n < count; ++n) {
        PostMessageW(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(sleeper),
                     MAKELPARAM(atom(L"Kelvor"), atom(L"System")));
      }
      print("hung");
      Sleep(ms);
      continue;
    }
    if (step == L"many") {
      const int count = static_cast<int>(std::wcstol(next().c_str(), nullptr, 10));
      HWND first = self;
      int connected = 0;
      for (int n = 0; n < count; ++n) {
        self = messageWindow();
        server = nullptr;
        answered = 0;
        const ATOM a = atom(L"Kelvor"), t = atom(L"System");
        SendMessageW(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(self), MAKELPARAM(a, t));
        GlobalDeleteAtom(a);
        GlobalDeleteAtom(t);
        connected += answered > 0;
      }
      self = first;
      server = nullptr;
      print("many connected " + std::to_string(connected));
      continue;
    }
    if (step == L"ackdelay") {
      ackDelayMs = static_cast<DWORD>(std::wcstoul(next().c_str(), nullptr, 10));
      continue;
    }
    if (step == L"say") {
      print(kelvor::fromWide(next()));
      continue;
    }
    if (step == L"wait") {
      pump(static_cast<DWORD>(std::wcstoul(next().c_str(), nullptr, 10)), false);
      continue;
    }
    if (!server) {
      print("no server");
      return 1;
    }
    if (step == L"postrequest") {
      PostMessageW(server, WM_DDE_REQUEST, reinterpret_cast<WPARAM>(self), MAKELPARAM(CF_TEXT, atom(next())));
      continue;
    }
    if (step == L"request" || step == L"unadvise") {
      const ATOM item = atom(next());
      const bool withFormat = step == L"request" && i < args.size() && iswdigit(args[i][0]);
      const auto format = static_cast<WORD>(withFormat ? std::wcstoul(next().c_str(), nullptr, 10) : CF_TEXT);
      send(step == L"request" ? WM_DDE_REQUEST : WM_DDE_UNADVISE, MAKELPARAM(format, item), nullptr);
    } else if (step == L"advise" || step == L"warm" || step == L"ackadvise") {
      const ATOM item = atom(next());
      HGLOBAL options = makeAdviseBlock(step == L"warm", step == L"ackadvise");
      if (i < args.size() && iswdigit(args[i][0])) {
        auto* advise = static_cast<DDEADVISE*>(GlobalLock(options));
        advise->cfFormat = static_cast<short>(std::wcstoul(next().c_str(), nullptr, 10));
        GlobalUnlock(options);
      }
      send(WM_DDE_ADVISE, PackDDElParam(WM_DDE_ADVISE, reinterpret_cast<UINT_PTR>(options), item), options);
    } else if (step == L"execute") {
      HGLOBAL command = makeExecuteBlock(kelvor::fromWide(next()), IsWindowUnicode(server));
      send(WM_DDE_EXECUTE, reinterpret_cast<LPARAM>(command), command);
    } else if (step == L"poke") {
      const ATOM item = atom(next());
      HGLOBAL data = makePokeBlock(toCfText(kelvor::fromWide(next())));
      send(WM_DDE_POKE, PackDDElParam(WM_DDE_POKE, reinterpret_cast<UINT_PTR>(data), item), data);
    } else if (step == L"terminate") {
      send(WM_DDE_TERMINATE, 0, nullptr);
      pump(10000, true);
      server = nullptr;
      continue;
    } else {
      print("unknown step " + kelvor::fromWide(step));
      return 2;
    }
    pump(10000, true);
  }
  return 0;
}
