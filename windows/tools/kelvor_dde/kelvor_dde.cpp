// kelvor-dde.exe: talks DDE to Kelvor (or any DDE server) from a shell, through DDEML, the
// library spreadsheets use, with the commands, options and exit codes of the Linux
// kelvor-dde.
//
// One invocation opens one conversation, sends one transaction, prints what came back and
// disconnects. `advise` stays and prints every update until it is interrupted (exit 0) or
// the server ends the conversation (exit 1). Values are printed as UTF-8.

#include <windows.h>
#include <ddeml.h>
#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/dde/client_command_line.h"
#include "kelvor_build.h"
#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace {

using kelvor::dde::kClientNegative;
using kelvor::dde::kClientPositive;
using kelvor::dde::kClientTimeout;

constexpr kelvor::dde::ClientHelp kHelp{
    "",
    "    Opens a DDE conversation with the service (DDEML, CF_TEXT), sends one transaction and\n"
    "    disconnects again. Values are printed as their text without the terminating zero,\n"
    "    blank padding kept, in UTF-8, followed by a newline.",
    "ends the conversation"};

struct Options {
  std::wstring service;
  std::wstring topic;
  DWORD timeoutMs = 0;
  std::vector<std::wstring> words;
};

std::optional<int> parse(int argc, wchar_t** argv, Options& options) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.push_back(kelvor::fromWide(argv[i]));
  kelvor::dde::ClientOptions parsed;
  if (const auto code = kelvor::dde::parseClientCommandLine(words, kHelp, KELVOR_VERSION, parsed)) return code;
  options.service = kelvor::toWide(parsed.service);
  options.topic = kelvor::toWide(parsed.topic);
  options.timeoutMs = static_cast<DWORD>(parsed.timeoutMs);
  for (const std::string& word : parsed.words) options.words.push_back(kelvor::toWide(word));
  return std::nullopt;
}

DWORD instance = 0;
HCONV conversation = nullptr;
DWORD mainThread = 0;
int adviseExit = kClientPositive;

void printValue(HDDEDATA data) {
  std::string text;
  if (data) {
    const DWORD size = DdeGetData(data, nullptr, 0, 0);
    text.resize(size);
    if (size) DdeGetData(data, reinterpret_cast<LPBYTE>(text.data()), size, 0);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  }
  const std::string shown = kelvor::win::fromCfText(text);
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

HDDEDATA CALLBACK callback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  switch (type) {
    case XTYP_ADVDATA:
      printValue(data);
      return reinterpret_cast<HDDEDATA>(DDE_FACK);
    case XTYP_DISCONNECT:
      std::fputs("kelvor-dde: the DDE server ended the conversation\n", stderr);
      adviseExit = kClientNegative;
      PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
      return nullptr;
    default:
      return nullptr;
  }
}

BOOL WINAPI onControl(DWORD) {
  PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
  return TRUE;
}

// The exit code and sentence for a failed transaction.
int failed(const char* what, const Options& options) {
  const UINT error = DdeGetLastError(instance);
  switch (error) {
    case DMLERR_ADVACKTIMEOUT:
    case DMLERR_DATAACKTIMEOUT:
    case DMLERR_EXECACKTIMEOUT:
    case DMLERR_POKEACKTIMEOUT:
    case DMLERR_UNADVACKTIMEOUT:
      std::fprintf(stderr, "kelvor-dde: no answer to %s within %g seconds\n", what, options.timeoutMs / 1000.0);
      return kClientTimeout;
    case DMLERR_BUSY:
      std::fprintf(stderr, "kelvor-dde: %s: the server is busy\n", what);
      return kClientNegative;
    case DMLERR_NOTPROCESSED:
      std::fprintf(stderr, "kelvor-dde: %s: negative answer\n", what);
      return kClientNegative;
    default:
      std::fprintf(stderr, "kelvor-dde: %s failed (DDEML error 0x%x)\n", what, error);
      return kClientNegative;
  }
}

std::wstring item(const Options& options, const wchar_t* fallback) {
  return options.words.size() > 1 ? options.words[1] : fallback;
}

int run(const Options& options) {
  const std::wstring& command = options.words[0];
  HSZ service = DdeCreateStringHandleW(instance, options.service.c_str(), CP_WINUNICODE);
  HSZ topic = DdeCreateStringHandleW(instance, options.topic.c_str(), CP_WINUNICODE);
  conversation = DdeConnect(instance, service, topic, nullptr);
  DdeFreeStringHandle(instance, service);
  DdeFreeStringHandle(instance, topic);
  if (!conversation) {
    std::fprintf(stderr, "kelvor-dde: no DDE server %s answers on topic %s\n",
                 kelvor::fromWide(options.service).c_str(), kelvor::fromWide(options.topic).c_str());
    return kClientNegative;
  }
  int code = kClientPositive;
  if (command == L"request") {
    HSZ name = DdeCreateStringHandleW(instance, item(options, L"ManualData").c_str(), CP_WINUNICODE);
    HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation, name, CF_TEXT, XTYP_REQUEST, options.timeoutMs, nullptr);
    if (data) {
      printValue(data);
      DdeFreeDataHandle(data);
    } else {
      code = failed("Request", options);
    }
    DdeFreeStringHandle(instance, name);
  } else if (command == L"execute") {
    // A Unicode DDEML client hands a wide string; DDEML turns it into CF_TEXT for a server
    // window that is not Unicode.
    const std::wstring& text = options.words[1];
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    auto* block = reinterpret_cast<LPBYTE>(const_cast<wchar_t*>(text.c_str()));
    if (!DdeClientTransaction(block, bytes, conversation, nullptr, 0, XTYP_EXECUTE, options.timeoutMs, nullptr))
      code = failed("Execute", options);
  } else if (command == L"poke") {
    HSZ name = DdeCreateStringHandleW(instance, options.words[1].c_str(), CP_WINUNICODE);
    std::string text = kelvor::win::toCfText(kelvor::fromWide(options.words[2]));
    if (!DdeClientTransaction(reinterpret_cast<LPBYTE>(text.data()), static_cast<DWORD>(text.size() + 1), conversation,
                              name, CF_TEXT, XTYP_POKE, options.timeoutMs, nullptr))
      code = failed("Poke", options);
    DdeFreeStringHandle(instance, name);
  } else {
    HSZ name = DdeCreateStringHandleW(instance, item(options, L"AutoData").c_str(), CP_WINUNICODE);
    // Asking for acknowledgements (as a careful program does): the server sends the next
    // value only once this one is printed, so a slow console is never flooded.
    if (!DdeClientTransaction(nullptr, 0, conversation, name, CF_TEXT, XTYP_ADVSTART | XTYPF_ACKREQ, options.timeoutMs,
                              nullptr)) {
      code = failed("Advise", options);
    } else {
      SetConsoleCtrlHandler(onControl, TRUE);
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      code = adviseExit;
      if (code == kClientPositive) {
        DdeClientTransaction(nullptr, 0, conversation, name, CF_TEXT, XTYP_ADVSTOP, 1000, nullptr);
      }
    }
    DdeFreeStringHandle(instance, name);
  }
  // The server takes the terminate up in turn, even after this client stopped waiting: a
  // busy one (a [WAIT( or a message window) holds us a second at most.
  std::fflush(stdout);
  std::thread([code] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ExitProcess(static_cast<UINT>(code));
  }).detach();
  DdeDisconnect(conversation);
  return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  Options options;
  if (const auto code = parse(argc, argv, options)) return *code;
  mainThread = GetCurrentThreadId();
  if (DdeInitializeW(&instance, callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
    std::fputs("kelvor-dde: DDEML could not start\n", stderr);
    return kClientNegative;
  }
  const int code = run(options);
  DdeUninitialize(instance);
  return code;
}
