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
//   hold FILE MS       opens FILE without sharing it, prints "held", keeps it open MS ms
//   move WINDOW X,Y    moves it, as dragging its caption would
//   close WINDOW       asks it to close, as its close box would
//   menu WINDOW N      presses the strip's menu button and picks item N with the arrow keys
//   press WINDOW KEY   a key (escape, enter, tab, space, down) pressed where its focus is
//   focus WINDOW       prints "focus ID", the number of the control that has the focus
//   active WINDOW      prints "active yes" when it is its program's active window, else "active no"
//   icon WINDOW        prints "icon yes" when Kelvor gave it its icon (what its caption shows),
//                      else "icon no" (Wine then draws its default). Wine leaves WM_GETICON
//                      unanswered across processes, so this reads the mark Kelvor leaves on a
//                      window it dressed: the property "KelvorDressed" holding the icon shown.
//   clear WINDOW       prints "clear yes" when it does not cover any part of Kelvor's strip
//   text WINDOW ID     prints "text T", the text of its control ID
//   items WINDOW ID    prints "items N", how many rows its list or combo box ID holds
//   push WINDOW ID     clicks its button ID
//   set WINDOW ID T    sets the text of its control ID, as typing it would
//   pick WINDOW ID N   selects row N (from 0) of its list or combo box ID
//   keys WINDOW KEY    brings it to the front and strikes KEY (escape, enter, tab, ctrl+tab)
//   name WINDOW NAME   types NAME as the file name of a file dialog
//   play WINDOW FILE   plays the steps of FILE (tests/windows/configuration_steps.txt) in
//                      the configuration window
// Exit status 1 when a window named by a step is missing.

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "windows/configuration_ids.h"

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

// The configuration window's controls by the names of their settings (a choice NAME=VALUE).
std::map<std::wstring, int> configurationControls() {
  std::map<std::wstring, int> ids;
  for (int n = 0; n < 8; ++n) ids[L"PORT=" + std::to_wstring(n)] = IDC_PORT_COM1 + n;
  const int rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, -27136};
  for (int n = 0; n < 8; ++n) ids[L"BAUDRATE=" + std::to_wstring(rates[n])] = IDC_BAUDRATE_300 + n;
  const std::pair<const wchar_t*, int> named[] = {
      {L"AUTO", IDC_AUTO}, {L"PARITY=0", IDC_PARITY_NONE}, {L"PARITY=1", IDC_PARITY_ODD},
      {L"PARITY=2", IDC_PARITY_EVEN}, {L"DATABITS=7", IDC_DATABITS_7}, {L"DATABITS=8", IDC_DATABITS_8},
      {L"STOPBITS=1", IDC_STOPBITS_1}, {L"STOPBITS=2", IDC_STOPBITS_2}, {L"USECTS", IDC_USECTS},
      {L"USEXON", IDC_USEXON}, {L"USEDTR", IDC_USEDTR}, {L"SELECTENDOF=1", IDC_ENDCHAR},
      {L"SELECTENDOF=3", IDC_ENDSTRING}, {L"SELECTENDOF=2", IDC_ENDBYTE}, {L"ENDOFCHAR=1", IDC_ENDOFCHAR_CR},
      {L"ENDOFCHAR=2", IDC_ENDOFCHAR_CRLF}, {L"NUMBEROFBYTE", IDC_NUMBEROFBYTE}, {L"ENDOFSTRING", IDC_ENDOFSTRING},
      {L"ENABLECLEAR", IDC_ENABLECLEAR}, {L"LENFILTERENABLE", IDC_LENFILTERENABLE},
      {L"LENFILTERSTART", IDC_LENFILTERSTART}, {L"LENFILTEREND", IDC_LENFILTEREND},
      {L"ENABLECONVERTVALUE", IDC_ENABLECONVERTVALUE}, {L"BUFFERMODE", IDC_BUFFERMODE}, {L"NAME", IDC_NAME},
      {L"ENABLESENDKEY", IDC_ENABLESENDKEY}, {L"DELAYMS", IDC_DELAYMS}, {L"ENABLESERVERDDE", IDC_ENABLESERVERDDE},
      {L"SENDORREQUEST=0", IDC_SEND}, {L"SENDORREQUEST=1", IDC_REQUEST}, {L"SOUNDENABLE", IDC_SOUNDENABLE},
      {L"ENABLEKEYSOUND", IDC_ENABLEKEYSOUND}, {L"FILESOUNDKEY", IDC_FILESOUNDKEY},
      {L"ENABLEDDESOUND", IDC_ENABLEDDESOUND}, {L"FILESOUNDDDE", IDC_FILESOUNDDDE}};
  for (const auto& [name, id] : named) ids[name] = id;
  return ids;
}

std::wstring fromUtf8(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

// Strikes keys into the foreground window, as the keyboard would.
void strike(const std::vector<WORD>& held, WORD key) {
  std::vector<INPUT> inputs;
  auto add = [&inputs](WORD vk, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
  };
  for (WORD vk : held) add(vk, false);
  add(key, false);
  add(key, true);
  for (auto it = held.rbegin(); it != held.rend(); ++it) add(*it, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Waits until the window's thread has taken up what was sent to it so far.
void settle(HWND window) {
  DWORD_PTR result;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
}

// The steps are sent, so each is done when the call returns; only the auto-configuration
// box hands the focus on afterwards, by a message of its own: wait until it has.
void settleDialog(HWND dialog) {
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  const DWORD id = GetWindowThreadProcessId(dialog, nullptr);
  for (int n = 0; n < 200; ++n) {
    settle(dialog);
    if (!GetGUIThreadInfo(id, &thread) || thread.hwndFocus != GetDlgItem(dialog, IDC_AUTO)) return;
    Sleep(10);
  }
}

// A step of the configuration window's steps file; false when a control is missing.
bool playStep(HWND dialog, const std::wstring& line) {
  static const std::map<std::wstring, int> ids = configurationControls();
  std::wistringstream words(line);
  std::wstring step, name;
  words >> step >> name;
  std::wstring text;
  std::getline(words, text);
  if (!text.empty() && text.front() == L' ') text.erase(0, 1);
  if (step == L"wait") {
    Sleep(static_cast<DWORD>(std::wcstoul(name.c_str(), nullptr, 10)));
    return true;
  }
  if (step == L"tab") {
    // As a click on the tab would: the window is told of the change.
    SendMessageW(GetDlgItem(dialog, IDC_CONFIG_TABS), TCM_SETCURFOCUS, std::wcstoul(name.c_str(), nullptr, 10), 0);
    settleDialog(dialog);
    return true;
  }
  const auto found = ids.find(name);
  HWND control = found == ids.end() ? nullptr : GetDlgItem(dialog, found->second);
  if (!control) {
    std::printf("no control %ls\n", name.c_str());
    return false;
  }
  // A mouse reaches only what is shown and enabled.
  if (!IsWindowVisible(control) || !IsWindowEnabled(control)) return true;
  if (step == L"click") {
    SendMessageW(control, BM_CLICK, 0, 0);
  } else if (step == L"type") {
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    SendMessageW(control, EM_SETSEL, 0, -1);
    SendMessageW(control, WM_CHAR, VK_BACK, 1);
    for (wchar_t c : text) SendMessageW(control, WM_CHAR, c, 1);
  } else {
    std::printf("unknown step %ls\n", step.c_str());
    return false;
  }
  settleDialog(dialog);
  return true;
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
    if (step == L"hold" && i + 2 < argc) {
      // Another program holding a file open without sharing it, as an editor or a backup may.
      const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        std::puts("not held");
        return 1;
      }
      std::puts("held");
      std::fflush(stdout);
      Sleep(static_cast<DWORD>(std::wcstoul(argv[i + 2], nullptr, 10)));
      CloseHandle(file);
      ++i;
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
    } else if (step == L"active") {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
      std::puts(info.hwndActive == window ? "active yes" : "active no");
    } else if (step == L"icon") {
      const auto shown = reinterpret_cast<UINT_PTR>(GetPropW(window, L"KelvorDressed"));
      std::puts(shown > 1 ? "icon yes" : "icon no");
    } else if (step == L"clear") {
      RECT own, strip, common;
      GetWindowRect(window, &own);
      const std::vector<HWND> strips = find(L"class:KelvorStrip");
      const bool covers = !strips.empty() && GetWindowRect(strips.front(), &strip) && IntersectRect(&common, &own, &strip);
      std::puts(covers ? "clear no" : "clear yes");
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
    } else if (step == L"keys" && i + 2 < argc) {
      const std::wstring key = argv[i + 2];
      ++i;
      SetForegroundWindow(window);
      settle(window);
      if (key == L"escape") strike({}, VK_ESCAPE);
      if (key == L"enter") strike({}, VK_RETURN);
      if (key == L"tab") strike({}, VK_TAB);
      if (key == L"ctrl+tab") strike({VK_CONTROL}, VK_TAB);
      settle(window);
    } else if (step == L"name" && i + 2 < argc) {
      // The file name box of the system's file dialog: a combo box (cmb13) or an edit (edt1).
      HWND box = GetDlgItem(window, 0x47c);
      if (!box) box = GetDlgItem(window, 0x480);
      SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[i + 2]));
      ++i;
    } else if (step == L"play" && i + 2 < argc) {
      std::ifstream file(argv[i + 2], std::ios::binary);
      ++i;
      std::string line;
      while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (!playStep(window, fromUtf8(line))) status = 1;
      }
    }
    std::fflush(stdout);
  }
  return status;
}
