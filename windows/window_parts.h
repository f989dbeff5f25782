#pragma once
// What Kelvor's Win32 windows share besides the strip: dialogs from the templates of
// windows.rc run modally (the desk's gate held meanwhile) or beside the strip, the pictures
// and lamps they draw, their texts from the language file, and the place where they open
// (clear of the strip, within the screen).
//
// A window that stays open beside the strip (the outputs window, a message that waits for
// nobody) is a modeless dialog: the program's message loop hands keys to it through
// isDialogMessage, so Tab, Enter and Escape work there as in a modal one.

#include <windows.h>

#include <string>

#include "core/i18n/translate.h"

namespace kelvor {

// The strip, which windows open clear of and belong to; set once it exists.
void setStripWindow(HWND strip);
HWND stripWindow();

// Runs the dialog of template `id` modally over the strip, holding the desk's gate, with
// `owner` in DWLP_USER from WM_INITDIALOG on. Returns EndDialog's result.
INT_PTR runModalDialog(int id, DLGPROC proc, void* owner);
// Makes the modeless dialog of template `id`; the caller shows it.
HWND makeModelessDialog(int id, DLGPROC proc, void* owner);
// The object passed to runModalDialog or makeModelessDialog (nullptr before WM_INITDIALOG).
template <typename T>
T* dialogOwner(HWND dialog, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
  return reinterpret_cast<T*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// Gives a key message to the modeless dialog it belongs to; true when that took it.
bool isDialogMessage(MSG& message);

// Moves `window` where it is clear of the strip, within the screen.
void placeClearOfStrip(HWND window);

// While it lives, every top-level window the calling thread shows (dialogs, message boxes,
// file dialogs) carries Kelvor's icon, and a standard dialog (a message box, a file dialog)
// that would open over the strip opens clear of it, as Kelvor's own windows do. One per
// thread that shows windows.
class WindowDressing {
 public:
  WindowDressing();
  ~WindowDressing();
  WindowDressing(const WindowDressing&) = delete;
  WindowDressing& operator=(const WindowDressing&) = delete;

 private:
  HHOOK hook_ = nullptr;
};

// A text of the language file (UTF-8 or Windows-1252 bytes) as a control's text.
void setControlText(HWND dialog, int id, const std::string& text);
void setWindowText(HWND window, const std::string& text);
std::string controlText(HWND dialog, int id);

// Draws a built-in picture ("~view.jpg") stretched over an owner-drawn control.
void drawPicture(const DRAWITEMSTRUCT& item, const std::string& picture);
// Draws a lamp: an ellipse filled with `colour` when lit, nothing when not.
void drawLamp(const DRAWITEMSTRUCT& item, COLORREF colour, bool lit);

// A tooltip over control `id` of `dialog`, made at the first call.
void setToolTip(HWND dialog, int id, const std::string& text);

}  // namespace kelvor
