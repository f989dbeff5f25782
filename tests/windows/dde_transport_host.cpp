// A window program that serves the DDE server over the Windows transport with a value the
// test sets by execute commands, so that the transport's WM_DDE conversations can be checked
// with real clients before and beside the whole program:
//   [SET(text)]  the value becomes text (hot links see it at the next look)
//   [COUNT]      prints "conversations N requests M" on standard output
//   [KEPT]       prints "kept N": the answers whose acknowledgement the transport awaits
//   [HOLD(ms)]   acknowledged at once, then holds every other message for ms milliseconds,
//                as a [WAIT( of the program does
//   [QUIT]       the program ends
// Any other command is printed on standard output. Usage: dde_transport_host [SERVICE]

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "core/dde/dde_server.h"
#include "windows/dde_message.h"
#include "windows/text_convert.h"
#include "windows/dde_transport.h"

namespace {

class Events : public kelvor::dde::DdeEvents {
 public:
  kelvor::dde::DdeServer* server = nullptr;
  kelvor::Win32DdeTransport* transport = nullptr;
  std::string value;

  kelvor::dde::BoundValue bound() {
    return [this] { return value; };
  }
  void requestPending() override { server->write(-1, "ManualData", bound()); }
  void adviseWithoutLink(const std::string&) override { server->write(1, "AutoData", bound()); }
  bool execute(const std::string& command, const std::function<void()>& acknowledge) override {
    if (command.rfind("[SET(", 0) == 0 && command.size() >= 7) {
      value = command.substr(5, command.size() - 7);
    } else if (command == "[COUNT]") {
      // This command's own conversation is open while it runs.
      std::printf("conversations %zu requests %zu\n", server->conversationCount() - 1, server->pendingRequestCount());
      std::fflush(stdout);
    } else if (command == "[KEPT]") {
      std::printf("kept %zu\n", transport->unacknowledgedCount());
      std::fflush(stdout);
    } else if (command.rfind("[HOLD(", 0) == 0) {
      acknowledge();
      const ULONGLONG end = GetTickCount64() + std::strtoul(command.c_str() + 6, nullptr, 10);
      MSG message;
      while (GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - GetTickCount64()), QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      }
      transport->resume();
    } else if (command == "[QUIT]") {
      PostQuitMessage(0);
    } else {
      std::printf("%s\n", command.c_str());
      std::fflush(stdout);
    }
    return true;
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::string service = argc > 1 ? kelvor::fromWide(argv[1]) : "Kelvor";
  Events events;
  kelvor::Win32DdeTransport transport;
  const auto start = std::chrono::steady_clock::now();
  kelvor::dde::DdeServer server(service, "System", transport, events, [start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  });
  events.server = &server;
  events.transport = &transport;
  std::string error;
  if (!transport.start(service, server, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // The link timer of the program's tick, a little over a second.
  const UINT_PTR timer = SetTimer(nullptr, 0, 1050, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.wParam == timer) server.checkLinks();
    DispatchMessageW(&message);
  }
  transport.close();
  return 0;
}
