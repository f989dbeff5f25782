#include "windows/desk_presence.h"

#include <cwctype>

#include "windows/text_convert.h"

namespace kelvor {
namespace {

constexpr wchar_t kPresenceClass[] = L"KelvorDeskPresence";
constexpr UINT kRaise = WM_APP + 7;

// The folder as one name for every way of writing it: upper case, "\" throughout, no
// trailing separator. A mutex name may not hold "\", so it gets a hash of that instead.
std::wstring folderKey(const std::string& folder) {
  std::wstring key = toWide(folder);
  for (wchar_t& c : key) c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(c));
  while (key.size() > 3 && key.back() == L'\\') key.pop_back();
  return key;
}

std::wstring hashOf(const std::wstring& text) {
  unsigned long long hash = 1469598103934665603ULL;  // FNV-1a
  for (wchar_t c : text) {
    hash ^= static_cast<unsigned long long>(c);
    hash *= 1099511628211ULL;
  }
  wchar_t digits[17];
  swprintf(digits, 17, L"%016llx", hash);
  return digits;
}

}  // namespace

LRESULT CALLBACK DeskPresence::proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRaise) {
    auto* presence = reinterpret_cast<DeskPresence*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (presence && presence->onRaise) presence->onRaise();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool DeskPresence::claim(const std::string& workingFolder) {
  const std::wstring key = folderKey(workingFolder);
  mutex_ = CreateMutexW(nullptr, TRUE, (L"Local\\Kelvor-" + hashOf(key)).c_str());
  if (mutex_ && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex_);
    mutex_ = nullptr;
    // The running one may still be starting: its window comes once its splash is made.
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (HWND running = FindWindowExW(HWND_MESSAGE, nullptr, kPresenceClass, key.c_str())) {
        PostMessageW(running, kRaise, 0, 0);
        break;
      }
      Sleep(100);
    }
    return false;
  }
  WNDCLASSW presenceClass{};
  presenceClass.lpfnWndProc = proc;
  presenceClass.hInstance = GetModuleHandleW(nullptr);
  presenceClass.lpszClassName = kPresenceClass;
  RegisterClassW(&presenceClass);
  window_ = CreateWindowExW(0, kPresenceClass, key.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            presenceClass.hInstance, nullptr);
  if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

DeskPresence::~DeskPresence() {
  if (window_) DestroyWindow(window_);
  if (mutex_) {
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
}

}  // namespace kelvor
