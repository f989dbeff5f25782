// Drives Kelvor's windows from the same Wine server as a person would, for the end-to-end
// tests. A window is named by its title, or by "class:NAME". Steps, in order:
//   wait WINDOW [MS]   until it is visible (default 20000 ms); prints "missing" otherwise
//   gone WINDOW [MS]   until it is not; prints "still there" otherwise
//   click WINDOW       a left click in its middle
//   ok WINDOW          presses a dialog's OK (a message box)
//   key WINDOW         a space key press sent to it
//   topmost WINDOW     prints "topmost yes" or "topmost no"
//   height WINDOW      prints "height N", its client area's height in pixels
//   count WINDOW       prints "count N", how many visible windows have that name
//   move WINDOW X,Y    moves it, as dragging its caption would
//   close WINDOW       asks it to close, as its close box would
// Exit status 1 when a window named by a step is missing.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Search {
  std::wstring name;
  bool byClass = false;
  std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t text[256] = {};
  if (search->byClass) {
    GetClassNameW(window, text, 256);
  } else {
    GetWindowTextW(window, text, 256);
  }
  if (search->name == text) search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> find(const std::wstring& name) {
  Search search;
  search.byClass = name.rfind(L"class:", 0) == 0;
  search.name = search.byClass ? name.substr(6) : name;
  EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND waitFor(const std::wstring& name, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    auto found = find(name);
    if (!found.empty()) return found.front();
    if (GetTickCount64() >= end) return nullptr;
    Sleep(50);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int status = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring step = argv[i], name = argv[i + 1];
    DWORD ms = 20000;
    if ((step == L"wait" || step == L"gone") && i + 2 < argc && iswdigit(argv[i + 2][0])) {
      ms = static_cast<DWORD>(std::wcstoul(argv[i + 2], nullptr, 10));
      ++i;
    }
    if (step == L"gone") {
      const ULONGLONG end = GetTickCount64() + ms;
      while (!find(name).empty() && GetTickCount64() < end) Sleep(50);
      if (!find(name).empty()) {
        std::puts("still there");
        status = 1;
      }
      continue;
    }
    if (step == L"count") {
      std::printf("count %zu\n", find(name).size());
      continue;
    }
    HWND window = waitFor(name, step == L"wait" ? ms : 5000);
    if (!window) {
      std::puts("missing");
      status = 1;
      continue;
    }
    RECT area;
    GetClientRect(window, &area);
    if (step == L"click") {
      const LPARAM middle = MAKELPARAM(area.right / 2, area.bottom / 2);
      PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, middle);
      PostMessageW(window, WM_LBUTTONUP, 0, middle);
    } else if (step == L"ok") {
      PostMessageW(window, WM_COMMAND, IDOK, 0);
    } else if (step == L"close") {
      PostMessageW(window, WM_CLOSE, 0, 0);
    } else if (step == L"key") {
      PostMessageW(window, WM_KEYDOWN, VK_SPACE, 1);
      PostMessageW(window, WM_KEYUP, VK_SPACE, 0xC0000001);
    } else if (step == L"topmost") {
      std::puts((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "topmost yes" : "topmost no");
    } else if (step == L"move" && i + 2 < argc) {
      const std::wstring place = argv[i + 2];
      ++i;
      const int x = std::wcstol(place.c_str(), nullptr, 10);
      const int y = std::wcstol(place.c_str() + place.find(L',') + 1, nullptr, 10);
      SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (step == L"height") {
      std::printf("height %ld\n", area.bottom);
    }
    std::fflush(stdout);
  }
  return status;
}
