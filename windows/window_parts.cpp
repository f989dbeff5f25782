#include "windows/window_parts.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "core/toolkit/encoding.h"
#include "core/toolkit/modal_gate.h"
#include "core/toolkit/placement.h"
#include "windows/pictures.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

HWND strip = nullptr;
std::vector<HWND> modeless;

constexpr wchar_t kToolTipsProperty[] = L"KelvorToolTips";

void startCommonControls() {
  static bool started = false;
  if (started) return;
  started = true;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
}

}  // namespace

void setStripWindow(HWND window) { strip = window; }
HWND stripWindow() { return strip; }

INT_PTR runModalDialog(int id, DLGPROC proc, void* owner) {
  startCommonControls();
  ModalGate::Hold hold(modalGate());
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), strip, proc,
                         reinterpret_cast<LPARAM>(owner));
}

HWND makeModelessDialog(int id, DLGPROC proc, void* owner) {
  startCommonControls();
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), strip, proc,
                                   reinterpret_cast<LPARAM>(owner));
  if (dialog) {
    std::erase_if(modeless, [](HWND window) { return !IsWindow(window); });
    modeless.push_back(dialog);
  }
  return dialog;
}

bool isDialogMessage(MSG& message) {
  if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  for (HWND dialog : modeless) {
    if (IsWindow(dialog) && IsDialogMessageW(dialog, &message)) return true;
  }
  return false;
}

void placeClearOfStrip(HWND window) {
  RECT own, work;
  GetWindowRect(window, &own);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  Box stripBox;
  if (strip && IsWindowVisible(strip)) {
    RECT area;
    GetWindowRect(strip, &area);
    stripBox = {area.left, area.top, area.right - area.left, area.bottom - area.top};
  }
  const Box place = placeClearOf(stripBox, own.right - own.left, own.bottom - own.top,
                                 {work.left, work.top, work.right - work.left, work.bottom - work.top});
  SetWindowPos(window, nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// Set on a window once it is dressed; its value is the icon the window shows (1 when the
// window had one of its own), which other processes can read where Wine leaves WM_GETICON
// unanswered across processes.
constexpr wchar_t kDressedProperty[] = L"KelvorDressed";

HICON kelvorIcon(int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"KELVOR_ICON", IMAGE_ICON, size, size, LR_SHARED));
}

bool overlapsStrip(HWND window) {
  if (!strip || !IsWindowVisible(strip) || window == strip) return false;
  RECT own, bar, common;
  GetWindowRect(window, &own);
  GetWindowRect(strip, &bar);
  return IntersectRect(&common, &own, &bar) != FALSE;
}

// Once, when the window is first activated (it exists by then, with its size).
LRESULT CALLBACK dressWindow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    const auto window = reinterpret_cast<HWND>(wParam);
    if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) && !GetPropW(window, kDressedProperty)) {
      HANDLE shown = reinterpret_cast<HANDLE>(1);
      if (!SendMessageW(window, WM_GETICON, ICON_BIG, 0) && !GetClassLongPtrW(window, GCLP_HICON)) {
        SendMessageW(window, WM_SETICON, ICON_SMALL,
                     reinterpret_cast<LPARAM>(kelvorIcon(GetSystemMetrics(SM_CXSMICON))));
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(kelvorIcon(GetSystemMetrics(SM_CXICON))));
        if (const LRESULT icon = SendMessageW(window, WM_GETICON, ICON_BIG, 0)) shown = reinterpret_cast<HANDLE>(icon);
      }
      SetPropW(window, kDressedProperty, shown);
      wchar_t className[16] = {};
      GetClassNameW(window, className, 16);
      if (lstrcmpW(className, L"#32770") == 0 && overlapsStrip(window)) placeClearOfStrip(window);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

WindowDressing::WindowDressing() : hook_(SetWindowsHookExW(WH_CBT, dressWindow, nullptr, GetCurrentThreadId())) {}

WindowDressing::~WindowDressing() {
  if (hook_) UnhookWindowsHookEx(hook_);
}

void setControlText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextW(dialog, id, toWide(displayText(text)).c_str());
}

void setWindowText(HWND window, const std::string& text) { SetWindowTextW(window, toWide(displayText(text)).c_str()); }

std::string controlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return fromWide(text);
}

void drawPicture(const DRAWITEMSTRUCT& item, const std::string& picture) {
  const RECT& area = item.rcItem;
  HBITMAP bitmap = builtInBitmap(picture);
  if (!bitmap) {
    FillRect(item.hDC, &area, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  BITMAP info{};
  GetObjectW(bitmap, sizeof info, &info);
  HDC source = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(source, bitmap);
  SetStretchBltMode(item.hDC, HALFTONE);
  StretchBlt(item.hDC, area.left, area.top, area.right - area.left, area.bottom - area.top, source, 0, 0,
             info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

void drawLamp(const DRAWITEMSTRUCT& item, COLORREF colour, bool lit) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  if (!lit) return;
  HBRUSH fill = CreateSolidBrush(colour);
  HGDIOBJ oldBrush = SelectObject(item.hDC, fill);
  HGDIOBJ oldPen = SelectObject(item.hDC, GetStockObject(NULL_PEN));
  const RECT& a = item.rcItem;
  Ellipse(item.hDC, a.left, a.top, a.right + 1, a.bottom + 1);
  SelectObject(item.hDC, oldPen);
  SelectObject(item.hDC, oldBrush);
  DeleteObject(fill);
}

void setToolTip(HWND dialog, int id, const std::string& text) {
  auto tips = static_cast<HWND>(GetPropW(dialog, kToolTipsProperty));
  if (!tips) {
    tips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, dialog, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    SetPropW(dialog, kToolTipsProperty, tips);
  }
  std::wstring wide = toWide(displayText(text));
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, id));
  tool.lpszText = wide.data();
  SendMessageW(tips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace kelvor
