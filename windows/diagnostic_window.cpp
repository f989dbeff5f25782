#include "windows/diagnostic_window.h"

#include "windows/window_parts.h"

namespace kelvor {
namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kLampsOffTimer = 2;
constexpr UINT kLampsLitMilliseconds = 120;

}  // namespace

void DiagnosticWindow::run() { runModalDialog(parts_.templateId, proc, this); }

INT_PTR CALLBACK DiagnosticWindow::proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* window = dialogOwner<DiagnosticWindow>(dialog, message, lParam);
  if (!window) return FALSE;
  if (message == WM_INITDIALOG) window->dialog_ = dialog;
  return window->handle(message, wParam, lParam);
}

INT_PTR DiagnosticWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      open();
      return TRUE;
    case WM_TIMER:
      if (wParam == kPollTimer) poll();
      if (wParam == kLampsOffTimer) {
        KillTimer(dialog_, kLampsOffTimer);
        showLamps(false, false);
      }
      return TRUE;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      const int id = static_cast<int>(item.CtlID);
      if (id == parts_.pictureId) drawPicture(item, parts_.picture);
      if (id == parts_.greenId) drawLamp(item, RGB(0, 255, 0), green_);
      if (id == parts_.redId) drawLamp(item, RGB(255, 0, 0), red_);
      return TRUE;
    }
    case WM_NOTIFY:
      SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, notify(*reinterpret_cast<const NMHDR*>(lParam)));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        close();
      } else if (HIWORD(wParam) == BN_CLICKED) {
        command(LOWORD(wParam));
      }
      return TRUE;
    case WM_CLOSE:
      close();
      return TRUE;
    default:
      return FALSE;
  }
}

void DiagnosticWindow::open() {
  placeClearOfStrip(dialog_);
  ShowWindow(dialog_, SW_SHOW);
  setTexts();
  showLamps(false, false);
  SetTimer(dialog_, kPollTimer, kPollMilliseconds, nullptr);
  // portWindowHandle holds 16 bits of a handle, as it always did.
  port_.open(static_cast<std::uint16_t>(reinterpret_cast<UINT_PTR>(dialog_) & 0xFFFF));
  clearForOpening();
}

void DiagnosticWindow::poll() {
  showLamps(true, red_);
  const bool received = readOnce();
  showLamps(true, received);
  SetTimer(dialog_, kLampsOffTimer, kLampsLitMilliseconds, nullptr);
  if (lossTold_) return;
  if (const std::optional<Notice> lost = lostPortNotice(port_)) {
    lossTold_ = true;  // before the box: the timer goes on polling while it is open
    port_.notices().tell(*lost);
  }
}

void DiagnosticWindow::showLamps(bool green, bool red) {
  if (green != green_) InvalidateRect(GetDlgItem(dialog_, parts_.greenId), nullptr, FALSE);
  if (red != red_) InvalidateRect(GetDlgItem(dialog_, parts_.redId), nullptr, FALSE);
  green_ = green;
  red_ = red;
}

void DiagnosticWindow::close() {
  KillTimer(dialog_, kPollTimer);
  KillTimer(dialog_, kLampsOffTimer);
  port_.close();
  EndDialog(dialog_, 0);
}

}  // namespace kelvor
