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
#include <cwchar>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kelvor_build.h"
#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace {

constexpr int kPositive = 0;
constexpr int kNegative = 1;  // a negative answer, or no server
constexpr int kUsage = 2;
constexpr int kTimeout = 3;

const char* const kHelp = R"(NAME
    kelvor-dde - send DDE messages to Kelvor

SYNOPSIS
    kelvor-dde [OPTIONS] request [ITEM]
    kelvor-dde [OPTIONS] advise [ITEM]
    kelvor-dde [OPTIONS] execute COMMAND
    kelvor-dde [OPTIONS] poke ITEM TEXT
    kelvor-dde --help | --version

DESCRIPTION
    Opens a DDE conversation with the service (DDEML, CF_TEXT), sends one transaction and
    disconnects again. Values are printed as their text without the terminating zero,
    blank padding kept, in UTF-8, followed by a newline.

COMMANDS
    request [ITEM]
        Asks for the value of ITEM (default ManualData) and prints it. After the command
        [WAITRS] the answer comes with the next frame, or after about 5 seconds.
    advise [ITEM]
        Hot-links ITEM (default AutoData): prints the current value, then each new value
        on its own line, until interrupted (Ctrl-C, exit 0) or until the server ends the
        conversation (exit 1).
    execute COMMAND
        Sends an execute command, for example "[RUN]", "[SEND(abc)]" or "[WAIT(1.5)]".
    poke ITEM TEXT
        Sends TEXT as the data of ITEM; Kelvor acknowledges and ignores it.

OPTIONS
    --service NAME   the DDE service name (default Kelvor)
    --topic NAME     the topic (default System)
    --timeout SECONDS
                     how long to wait for each answer (default 10)
    -h, --help       print this text and exit
    -v, --version    print the version and exit
    --               the words after it belong to the command, even one that begins
                     with "-" (kelvor-dde poke Value -- -5)

EXIT STATUS
    0   positive answer
    1   negative answer, or no server
    2   usage error
    3   no answer within the time-out

EXAMPLES
    kelvor-dde request
    kelvor-dde execute "[WAITRS]" && kelvor-dde request
    kelvor-dde advise AutoData
)";

struct Options {
  std::wstring service = L"Kelvor";
  std::wstring topic = L"System";
  DWORD timeoutMs = 10000;
  std::vector<std::wstring> words;
};

int usage(const std::string& why) {
  std::fprintf(stderr,
               "kelvor-dde: %s (usage: kelvor-dde [OPTIONS] request|advise|execute|poke ...; see kelvor-dde --help)\n",
               why.c_str());
  return kUsage;
}

bool validService(const std::wstring& name) {
  if (name.empty() || name.size() > 200 || (name[0] >= L'0' && name[0] <= L'9')) return false;
  for (wchar_t c : name) {
    const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
    if (!letter && c != L'_' && c != L'-') return false;
  }
  return true;
}

std::optional<int> parse(int argc, wchar_t** argv, Options& options) {
  bool wordsOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (wordsOnly || arg.empty() || arg[0] != L'-' || arg == L"-") {
      options.words.push_back(arg);
      continue;
    }
    if (arg == L"--") {
      wordsOnly = true;
      continue;
    }
    if (arg == L"-h" || arg == L"--help") {
      std::fputs(kHelp, stdout);
      return kPositive;
    }
    if (arg == L"-v" || arg == L"--version") {
      std::printf("kelvor-dde %s\n", KELVOR_VERSION);
      return kPositive;
    }
    // "--name value" or "--name=value".
    std::wstring name = arg, value;
    bool hasValue = false;
    if (const auto eq = arg.find(L'='); eq != std::wstring::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    if (name != L"--service" && name != L"--topic" && name != L"--timeout") {
      return usage("unknown option '" + kelvor::fromWide(arg.substr(arg.find_first_not_of(L'-'))) + "'");
    }
    if (!hasValue) {
      if (i + 1 >= argc) return usage("missing value after '" + kelvor::fromWide(name) + "'");
      value = argv[++i];
    }
    if (name == L"--service") {
      if (!validService(value))
        return usage("the service name may hold only letters, digits, '_' and '-', and not start with a digit");
      options.service = value;
    } else if (name == L"--topic") {
      options.topic = value;
    } else {
      wchar_t* end = nullptr;
      const double s = std::wcstod(value.c_str(), &end);
      if (value.empty() || *end != L'\0' || !(s > 0) || s > 2000000) return usage("--timeout needs a positive number of SECONDS");
      options.timeoutMs = static_cast<DWORD>(s * 1000 + 0.5);
      if (options.timeoutMs < 1) options.timeoutMs = 1;
    }
  }
  if (options.words.empty()) return usage("a command is needed: request, advise, execute or poke");
  const std::wstring& command = options.words[0];
  const auto count = options.words.size();
  if (command == L"request" || command == L"advise") {
    if (count > 2) return usage(kelvor::fromWide(command) + " takes at most one ITEM");
  } else if (command == L"execute") {
    if (count != 2) return usage("execute takes one COMMAND");
  } else if (command == L"poke") {
    if (count != 3) return usage("poke takes an ITEM and a TEXT");
  } else {
    return usage("unknown command " + kelvor::fromWide(command));
  }
  return std::nullopt;
}

DWORD instance = 0;
HCONV conversation = nullptr;
DWORD mainThread = 0;
int adviseExit = kPositive;

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
      adviseExit = kNegative;
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
      return kTimeout;
    case DMLERR_BUSY:
      std::fprintf(stderr, "kelvor-dde: %s: the server is busy\n", what);
      return kNegative;
    case DMLERR_NOTPROCESSED:
      std::fprintf(stderr, "kelvor-dde: %s: negative answer\n", what);
      return kNegative;
    default:
      std::fprintf(stderr, "kelvor-dde: %s failed (DDEML error 0x%x)\n", what, error);
      return kNegative;
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
    return kNegative;
  }
  int code = kPositive;
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
    if (!DdeClientTransaction(nullptr, 0, conversation, name, CF_TEXT, XTYP_ADVSTART, options.timeoutMs, nullptr)) {
      code = failed("Advise", options);
    } else {
      SetConsoleCtrlHandler(onControl, TRUE);
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      code = adviseExit;
      if (code == kPositive) DdeClientTransaction(nullptr, 0, conversation, name, CF_TEXT, XTYP_ADVSTOP, 1000, nullptr);
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
    return kNegative;
  }
  const int code = run(options);
  DdeUninitialize(instance);
  return code;
}
