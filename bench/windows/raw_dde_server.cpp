// The yardstick for the Windows DDE benchmark: the least a DDE server on a serial line can
// be. One window answers every conversation; a request is answered at once with the last
// frame from COM1 (cut at CR), unless [WAITRS] came first, when it is answered as soon as the
// next frame arrives; [SEND(text)] puts text and CR on the line; an advise (any item) gets
// every frame as it comes, unacknowledged. COM1 is read every millisecond.
// Usage: raw_dde_server [SERVICE]   (default RawBench; topic System)

#include <windows.h>
#include <dde.h>

#include <string>

#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace {

using namespace kelvor;

std::wstring service = L"RawBench";
HWND self = nullptr;
HANDLE port = INVALID_HANDLE_VALUE;
std::string value, line;
bool waiting = false;
HWND heldClient = nullptr;
ATOM heldItem = 0;
HWND linkClient = nullptr;
std::wstring linkItem;

void answer(HWND client, ATOM item) {
  HGLOBAL data = win::makeDataBlock(value, true, true);
  if (!PostMessageW(client, WM_DDE_DATA, reinterpret_cast<WPARAM>(self),
                    PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(data), item))) {
    GlobalFree(data);
  }
}

void ack(HWND client, WORD status, UINT_PTR high) {
  PostMessageW(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(self), PackDDElParam(WM_DDE_ACK, status, high));
}

void readLine() {
  char bytes[2549];
  DWORD n = 0;
  while (ReadFile(port, bytes, sizeof bytes, &n, nullptr) && n > 0) {
    for (DWORD i = 0; i < n; ++i) {
      if (bytes[i] != '\r') {
        line += bytes[i];
        continue;
      }
      value = line;
      line.clear();
      if (linkClient) {
        HGLOBAL data = win::makeDataBlock(value, false, false);
        const ATOM item = GlobalAddAtomW(linkItem.c_str());
        if (!PostMessageW(linkClient, WM_DDE_DATA, reinterpret_cast<WPARAM>(self),
                          PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(data), item))) {
          GlobalFree(data);
          GlobalDeleteAtom(item);
        }
      }
      if (waiting && heldClient) {
        answer(heldClient, heldItem);
        heldClient = nullptr;
        waiting = false;
      }
    }
  }
}

LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto client = reinterpret_cast<HWND>(wParam);
  switch (message) {
    case WM_DDE_INITIATE: {
      const std::string app = win::atomName(LOWORD(lParam));
      if (!app.empty() && toWide(app) != service) return 0;
      SendMessageW(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window),
                   MAKELPARAM(GlobalAddAtomW(service.c_str()), GlobalAddAtomW(L"System")));
      return 0;
    }
    case WM_DDE_REQUEST:
      if (waiting) {
        heldClient = client;
        heldItem = HIWORD(lParam);
      } else {
        answer(client, HIWORD(lParam));
      }
      return 0;
    case WM_DDE_ADVISE: {
      UINT_PTR options = 0, item = 0;
      UnpackDDElParam(WM_DDE_ADVISE, lParam, &options, &item);
      FreeDDElParam(WM_DDE_ADVISE, lParam);
      GlobalFree(reinterpret_cast<HGLOBAL>(options));
      linkClient = client;
      linkItem = toWide(win::atomName(static_cast<ATOM>(item)));
      ack(client, win::kAckPositive, item);
      return 0;
    }
    case WM_DDE_UNADVISE:
      linkClient = nullptr;
      ack(client, win::kAckPositive, HIWORD(lParam));
      return 0;
    case WM_DDE_ACK: {
      UINT_PTR status = 0, item = 0;
      UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
      FreeDDElParam(WM_DDE_ACK, lParam);
      if (item) GlobalDeleteAtom(static_cast<ATOM>(item));
      return 0;
    }
    case WM_DDE_EXECUTE: {
      const auto block = reinterpret_cast<HGLOBAL>(lParam);
      const std::string command = win::readExecuteBlock(block, IsWindowUnicode(client));
      ack(client, win::kAckPositive, reinterpret_cast<UINT_PTR>(block));
      if (command == "[WAITRS]") {
        waiting = true;
      } else if (command.rfind("[SEND(", 0) == 0 && command.size() >= 8) {
        const std::string text = command.substr(6, command.size() - 8) + "\r";
        DWORD written = 0;
        WriteFile(port, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      }
      return 0;
    }
    case WM_DDE_TERMINATE:
      PostMessageW(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1) service = argv[1];
  port = CreateFileW(L"\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 1000};
  SetCommTimeouts(port, &timeouts);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"RawBenchServer";
  RegisterClassW(&windowClass);
  self = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         windowClass.hInstance, nullptr);
  MSG message;
  for (;;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return 0;
      DispatchMessageW(&message);
    }
    if (port != INVALID_HANDLE_VALUE) readLine();
  }
}
