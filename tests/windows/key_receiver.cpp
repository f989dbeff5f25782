// The window that receives Kelvor's keystrokes in the end-to-end tests: an EDIT control with
// the focus that writes what it gets to a file, in UTF-8, as it arrives, the way a terminal
// in raw mode writes it: each character as itself, Return as CR, Tab as TAB, and the arrows
// as ESC [ C and ESC [ D, so that a structured record's moves between cells show in order
// and the Linux typing test's checker reads the file unchanged.
// Usage: key_receiver OUTPUT-FILE

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

FILE* output = nullptr;
WNDPROC editProc = nullptr;
wchar_t pendingHigh = 0;  // the first half of a character beyond the first plane

void write(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), output);
  std::fflush(output);
}

LRESULT CALLBACK recordingEdit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN) {
    if (wParam == VK_RIGHT) write(L"\x1b[C");
    if (wParam == VK_LEFT) write(L"\x1b[D");
  } else if (message == WM_CHAR) {
    const auto unit = static_cast<wchar_t>(wParam);
    if (unit == L'\r' || unit == L'\t') {
      write(std::wstring(1, unit));
    } else if (unit >= 0xD800 && unit < 0xDC00) {
      pendingHigh = unit;
    } else if (unit >= 0xDC00 && unit < 0xE000) {
      write(std::wstring{pendingHigh, unit});
      pendingHigh = 0;
    } else if (unit >= 0x20) {
      write(std::wstring(1, unit));
    }
  }
  return CallWindowProcW(editProc, window, message, wParam, lParam);
}

LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || !(output = _wfopen(argv[1], L"ab"))) {
    std::fputs("usage: key_receiver OUTPUT-FILE\n", stderr);
    return 2;
  }
  WNDCLASSW frameClass{};
  frameClass.lpfnWndProc = frameProc;
  frameClass.hInstance = GetModuleHandleW(nullptr);
  frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  frameClass.lpszClassName = L"KelvorKeyReceiver";
  RegisterClassW(&frameClass);
  HWND frame = CreateWindowExW(0, frameClass.lpszClassName, L"Key receiver", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 200,
                               480, 160, nullptr, nullptr, frameClass.hInstance, nullptr);
  HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 8,
                              8, 450, 100, frame, nullptr, frameClass.hInstance, nullptr);
  editProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(recordingEdit)));
  SetForegroundWindow(frame);
  SetFocus(edit);
  std::printf("ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  std::fclose(output);
  return 0;
}
