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
//   menu WINDOW N      presses the strip's menu button and picks item N with the arrow keys
//   press WINDOW KEY   a key (escape, enter, tab, space, down) pressed where its focus is
//   focus WINDOW       prints "focus ID", the number of the control that has the focus
//   text WINDOW ID     prints "text T", the text of its control ID
//   items WINDOW ID    prints "items N", how many rows its list or combo box ID holds
//   push WINDOW ID     clicks its button ID
//   set WINDOW ID T    sets the text of its control ID, as typing it would
//   pick WINDOW ID N   selects row N (from 0) of its list or combo box ID
// Exit status 1 when a window named by a step is missing.

#include <windows.h>
#include <commctrl.h>

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

// The window that has the keyboard focus in the thread of `window`.
HWND focusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus ? info.hwndFocus : window;
}

void pressKey(HWND target, UINT key) {
  PostMessageW(target, WM_KEYDOWN, key, 1);
  if (key == VK_SPACE || key == VK_TAB || key == VK_RETURN || key == VK_ESCAPE) {
    PostMessageW(target, WM_CHAR, key == VK_SPACE ? L' ' : key == VK_TAB ? L'\t' : key == VK_RETURN ? L'\r' : 0x1B, 1);
  }
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

UINT keyNamed(const std::wstring& name) {
  if (name == L"escape") return VK_ESCAPE;
  if (name == L"enter") return VK_RETURN;
  if (name == L"tab") return VK_TAB;
  if (name == L"down") return VK_DOWN;
  return VK_SPACE;
}

std::string narrow(const std::wstring& text) {
  std::string bytes(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.resize(bytes.size() - 1);
  return bytes;
}

bool isClass(HWND control, const wchar_t* name) {
  wchar_t found[64] = {};
  GetClassNameW(control, found, 64);
  return lstrcmpiW(found, name) == 0;
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
    } else if (step == L"menu" && i + 2 < argc) {
      const int item = std::wcstol(argv[i + 2], nullptr, 10);
      ++i;
      // Posted, not sent: the menu runs its own loop until an item is picked.
      PostMessageW(window, WM_COMMAND, MAKEWPARAM(11, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, 11)));
      HWND menu = waitFor(L"class:#32768", 5000);
      if (!menu) {
        std::puts("no menu");
        status = 1;
      } else {
        for (int n = 0; n < item; ++n) pressKey(menu, VK_DOWN);
        pressKey(menu, VK_RETURN);
      }
    } else if (step == L"press" && i + 2 < argc) {
      pressKey(focusOf(window), keyNamed(argv[i + 2]));
      ++i;
    } else if (step == L"focus") {
      std::printf("focus %d\n", GetDlgCtrlID(focusOf(window)));
    } else if (i + 2 < argc && (step == L"text" || step == L"items" || step == L"push" || step == L"set" || step == L"pick")) {
      HWND control = GetDlgItem(window, std::wcstol(argv[i + 2], nullptr, 10));
      ++i;
      if (!control) {
        std::puts("no control");
        status = 1;
      } else if (step == L"text") {
        // Asked of the control itself: GetWindowText gives only a caption across processes.
        std::wstring text(static_cast<std::size_t>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
        std::printf("text %s\n", narrow(text).c_str());
      } else if (step == L"items") {
        const LRESULT count = isClass(control, WC_LISTVIEWW) ? SendMessageW(control, LVM_GETITEMCOUNT, 0, 0)
                                                             : SendMessageW(control, CB_GETCOUNT, 0, 0);
        std::printf("items %ld\n", static_cast<long>(count));
      } else if (step == L"push") {
        PostMessageW(control, BM_CLICK, 0, 0);
      } else if (i + 2 < argc) {
        const std::wstring value = argv[i + 2];
        ++i;
        if (step == L"set") {
          SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
        } else if (isClass(control, WC_LISTVIEWW)) {
          // A list view's state lives in the other process: ask it through an item the
          // list copies from this one's memory is not possible, so the keyboard picks it.
          SetForegroundWindow(window);
          PostMessageW(control, WM_KEYDOWN, VK_HOME, 1);
          for (long n = std::wcstol(value.c_str(), nullptr, 10); n > 0; --n) PostMessageW(control, WM_KEYDOWN, VK_DOWN, 1);
        } else {
          SendMessageW(control, CB_SETCURSEL, std::wcstol(value.c_str(), nullptr, 10), 0);
          SendMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
        }
      }
    }
    std::fflush(stdout);
  }
  return status;
}
