#include "windows/message_window.h"

#include <windows.h>

#include "core/toolkit/encoding.h"
#include "core/toolkit/message_lines.h"
#include "core/toolkit/sound.h"
#include "core/toolkit/text.h"
#include "windows/text_convert.h"
#include "windows/window_parts.h"
#include "windows/windows_ids.h"

namespace kelvor {
namespace {

// The message window that does not wait, while it is open: there is at most one.
HWND openWithoutWaiting = nullptr;

struct Message {
  MessageLines lines;
  std::uint8_t soundEnable = 0;
  std::string touchSoundPath;
  bool waiting = true;
  HFONT font = nullptr;
};

void finish(HWND dialog, Message& message, bool pressedOk) {
  if (pressedOk && message.soundEnable == 1) playSoundFile(message.touchSoundPath);
  if (message.waiting) {
    EndDialog(dialog, pressedOk ? IDOK : IDCANCEL);
  } else {
    DestroyWindow(dialog);
  }
}

INT_PTR CALLBACK messageProc(HWND dialog, UINT code, WPARAM wParam, LPARAM lParam) {
  auto* message = dialogOwner<Message>(dialog, code, lParam);
  if (!message) return FALSE;
  switch (code) {
    case WM_INITDIALOG: {
      const int dpi = GetDeviceCaps(GetDC(dialog), LOGPIXELSY);
      message->font = CreateFontW(-MulDiv(14, dpi, 72), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                  ANTIALIASED_QUALITY, 0, L"Arial");
      placeClearOfStrip(dialog);
      SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
      SetFocus(GetDlgItem(dialog, IDC_MESSAGE_FOCUS));
      return FALSE;  // the focus is set
    }
    case WM_ERASEBKGND:
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
      return TRUE;
    case WM_PAINT: {
      // The picture, and the lines over it; OK is a control of its own.
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(dialog, &paint);
      RECT client;
      GetClientRect(dialog, &client);
      FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
      RECT area{0, 0, 298, 46};
      MapDialogRect(dialog, &area);
      DRAWITEMSTRUCT item{};
      item.hDC = dc;
      item.rcItem = area;
      drawPicture(item, "~f_messag.jpg");
      HGDIOBJ old = SelectObject(dc, message->font);
      SetTextColor(dc, RGB(255, 58, 53));
      SetBkMode(dc, TRANSPARENT);
      const int tops[3] = {4, 17, 30};
      for (int n = 0; n < 3; ++n) {
        RECT line{4, tops[n], 294, tops[n] + 13};
        MapDialogRect(dialog, &line);
        const std::wstring text = toWide(displayText(trimRight(message->lines.line[n])));
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
      }
      SelectObject(dc, old);
      EndPaint(dialog, &paint);
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      drawPicture(item, "~b_ok.jpg");
      if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
      return TRUE;
    }
    case WM_COMMAND:
      // OK is the only button that does something; the focus holder takes a stray Enter.
      if (LOWORD(wParam) == IDOK) finish(dialog, *message, true);
      if (LOWORD(wParam) == IDCANCEL) finish(dialog, *message, false);
      return TRUE;
    case WM_CLOSE:
      finish(dialog, *message, false);
      return TRUE;
    case WM_DESTROY:
      DeleteObject(message->font);
      SetWindowLongPtrW(dialog, DWLP_USER, 0);
      if (!message->waiting) {
        if (openWithoutWaiting == dialog) openWithoutWaiting = nullptr;
        delete message;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

// What opening does before the window shows: the lines, and the information sound.
void prepare(Message& message, std::string_view text, std::uint8_t soundEnable, const std::string& touchSoundPath) {
  message.lines = messageLines(text);
  message.soundEnable = soundEnable;
  message.touchSoundPath = touchSoundPath;
  soundName() = "sound\\info.wav";
  if (soundEnable == 1) playSoundFile(soundName().str());
}

}  // namespace

void showMessage(std::string_view text, std::uint8_t soundEnable, const std::string& touchSoundPath) {
  Message message;
  prepare(message, text, soundEnable, touchSoundPath);
  runModalDialog(IDD_MESSAGE, messageProc, &message);
}

void showMessageWithoutWaiting(std::string_view text, std::uint8_t soundEnable, const std::string& touchSoundPath) {
  // One at a time: ten linked cells would otherwise stack ten windows. A later message shows
  // its text in the one still open.
  if (openWithoutWaiting) {
    if (auto* open = reinterpret_cast<Message*>(GetWindowLongPtrW(openWithoutWaiting, DWLP_USER))) {
      open->lines = messageLines(text);
      InvalidateRect(openWithoutWaiting, nullptr, FALSE);
      return;
    }
  }
  auto* message = new Message;
  message->waiting = false;
  prepare(*message, text, soundEnable, touchSoundPath);
  HWND dialog = makeModelessDialog(IDD_MESSAGE, messageProc, message);
  if (!dialog) {
    delete message;
    return;
  }
  openWithoutWaiting = dialog;
  ShowWindow(dialog, SW_SHOW);
}

}  // namespace kelvor
