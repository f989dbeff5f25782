#include "windows/notices.h"

#include <chrono>
#include <thread>

#include "core/toolkit/encoding.h"
#include "windows/dde_message.h"
#include "windows/text_convert.h"
#include "windows/window_parts.h"

namespace kelvor {
namespace {

constexpr wchar_t kBusyClass[] = L"KelvorPortNotice";

UINT iconOf(const Notice& notice) {
  switch (notice.icon.value_or(notice.kind)) {
    case NoticeKind::Error: return MB_ICONERROR;
    case NoticeKind::Warning: return MB_ICONWARNING;
    case NoticeKind::Information: return MB_ICONINFORMATION;
  }
  return MB_ICONINFORMATION;
}

std::wstring shown(const std::string& text) { return toWide(displayText(text)); }

std::string readWhole(HANDLE file) {
  std::string bytes;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
  return bytes;
}

void writeAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD n = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) || n == 0) return;
    bytes.remove_prefix(n);
  }
}

// Appends `line` to the log, dropping its older half first when it would grow past the
// limit. Failures are silent: the log is a help, never a reason to stop.
void appendToLog(const std::string& path, const std::string& line) {
  HANDLE file = CreateFileW(toWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  if (static_cast<std::size_t>(size.QuadPart) + line.size() > kLogLimit) {
    const std::string kept = newerHalf(readWhole(file));
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    writeAll(file, kept);
    SetEndOfFile(file);
  } else {
    SetFilePointer(file, 0, nullptr, FILE_END);
  }
  writeAll(file, line);
  CloseHandle(file);
}

LRESULT CALLBACK busyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    FillRect(dc, &area, GetSysColorBrush(COLOR_INFOBK));
    SetBkMode(dc, TRANSPARENT);
    const auto* text = reinterpret_cast<const std::wstring*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (text) DrawTextW(dc, text->c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

std::string newerHalf(std::string_view log) {
  const std::size_t middle = log.size() / 2;
  const std::size_t start = log.find('\n', middle);
  return start == std::string_view::npos ? std::string() : std::string(log.substr(start + 1));
}

Win32Notices::Win32Notices(std::string logPath) : logPath_(std::move(logPath)) {}

Win32Notices::~Win32Notices() {
  if (busy_) DestroyWindow(busy_);
}

void Win32Notices::writeLine(const Notice& notice) {
  const std::string line = noticeLine(notice, std::chrono::system_clock::now()) + "\n";
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error && error != INVALID_HANDLE_VALUE) {
    DWORD n = 0;
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &n, nullptr);
  }
  appendToLog(logPath_, line);
}

void Win32Notices::tell(const Notice& notice) {
  if (isLogged(notice.kind)) writeLine(notice);
  const std::wstring text = shown(notice.text), caption = shown(notice.caption);
  // The strip stays on top of every window: a box that waits for the user must not open
  // hidden behind it.
  auto show = [&] { MessageBoxW(owner_, text.c_str(), caption.c_str(), MB_OK | MB_TOPMOST | iconOf(notice)); };
  if (runModal_) {
    runModal_(show);
  } else {
    show();
  }
}

void Win32Notices::mention(const Notice& notice) {
  if (isLogged(notice.kind)) writeLine(notice);
  // A box of its own thread: nothing waits for the user, and the strip goes on working.
  std::thread([text = shown(notice.text), caption = shown(notice.caption), icon = iconOf(notice)] {
    const WindowDressing dressing;
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_TOPMOST | MB_SETFOREGROUND | icon);
  }).detach();
}

void Win32Notices::note(const Notice& notice) { writeLine(notice); }

void Win32Notices::showBusy(std::string_view text) {
  busyText_ = toWide(text);
  if (!busy_) {
    WNDCLASSW busyClass{};
    busyClass.lpfnWndProc = busyProc;
    busyClass.hInstance = GetModuleHandleW(nullptr);
    busyClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
    busyClass.lpszClassName = kBusyClass;
    RegisterClassW(&busyClass);
    const int width = 300, height = 50;
    busy_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kBusyClass, L"Kelvor", WS_POPUP | WS_BORDER,
                            (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                            width, height, owner_, nullptr, busyClass.hInstance, nullptr);
    if (!busy_) return;
    SetWindowLongPtrW(busy_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&busyText_));
  }
  ShowWindow(busy_, SW_SHOWNOACTIVATE);
  InvalidateRect(busy_, nullptr, TRUE);
  // Painted at once: the port opens without events.
  UpdateWindow(busy_);
}

void Win32Notices::closeBusy() {
  if (busy_) ShowWindow(busy_, SW_HIDE);
}

}  // namespace kelvor
