#include "windows/view_window.h"

#include <commctrl.h>

#include <algorithm>

#include "core/i18n/translate.h"
#include "windows/text_convert.h"
#include "windows/window_parts.h"
#include "windows/windows_ids.h"

namespace kelvor {
namespace {

// The list's columns: heading, width in dialog units, alignment.
struct Column {
  const wchar_t* heading;
  int width;
  int format;
};
constexpr Column kColumns[3] = {{L"Pos", 18, LVCFMT_RIGHT}, {L"Char", 22, LVCFMT_CENTER}, {L"ASCII Val.", 20, LVCFMT_CENTER}};

// The running text as the edit control shows it: its lines end in CR LF.
std::wstring editText(const std::string& bytes) {
  const std::wstring text = toWide(displayRunningText(bytes));
  std::wstring lines;
  lines.reserve(text.size() + text.size() / 8);
  for (wchar_t c : text) {
    if (c == L'\n') lines += L'\r';
    lines += c;
  }
  return lines;
}

}  // namespace

ViewWindow::ViewWindow(PortContext port)
    : DiagnosticWindow(port, {IDD_VIEW, IDC_VIEW_PICTURE, IDC_VIEW_GREEN, IDC_VIEW_RED, "~view.jpg"}) {}

void ViewWindow::setTexts() {
  Language& language = port_.language();
  language.languageSection = "view";
  setWindowText(dialog_, translate(language, "screen"));
  setControlText(dialog_, IDC_VIEW_RECEIVE, translate(language, "receive"));
  setControlText(dialog_, IDC_VIEW_CONVERT, translate(language, "convert"));
  setControlText(dialog_, IDC_VIEW_CLEAR_TEXT, translate(language, "clear"));
  setToolTip(dialog_, IDC_VIEW_CLEAR_TEXT, translate(language, "clearbufferdata"));
  setControlText(dialog_, IDC_VIEW_CLEAR_TABLE, translate(language, "clear"));
  setToolTip(dialog_, IDC_VIEW_CLEAR_TABLE, translate(language, "clearbufferconvert"));

  HWND table = GetDlgItem(dialog_, IDC_VIEW_TABLE);
  RECT inside;
  GetClientRect(table, &inside);
  int left = inside.right - GetSystemMetrics(SM_CXVSCROLL);
  ListView_SetExtendedListViewStyle(table, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  for (int i = 0; i < 3; ++i) {
    RECT width{0, 0, kColumns[i].width, 0};
    MapDialogRect(dialog_, &width);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = kColumns[i].format;
    // The last column takes what the others leave, so that no empty column shows.
    column.cx = i < 2 ? width.right : std::max<int>(width.right, left);
    left -= column.cx;
    column.pszText = const_cast<wchar_t*>(kColumns[i].heading);
    // The wide message by name: the macro would pick the ANSI one in this build, which reads
    // the heading as narrow text and shows its first letter only.
    SendMessageW(table, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
}

void ViewWindow::clearForOpening() {
  log_.clearText();
  log_.clearTable();
  showText();
  showRows();
}

bool ViewWindow::readOnce() {
  const std::string bytes = readForView(port_);
  if (bytes.empty()) return false;
  const bool textChanges = log_.viewText().size() < ViewLog::kTextCapacity;
  log_.append(bytes);
  if (textChanges) showText();
  showRows();
  return true;
}

void ViewWindow::showText() {
  HWND box = GetDlgItem(dialog_, IDC_VIEW_TEXT);
  SetWindowTextW(box, editText(log_.viewText()).c_str());
  const LPARAM end = GetWindowTextLengthW(box);
  SendMessageW(box, EM_SETSEL, end, end);
  SendMessageW(box, EM_SCROLLCARET, 0, 0);
}

void ViewWindow::showRows() {
  HWND table = GetDlgItem(dialog_, IDC_VIEW_TABLE);
  const int before = ListView_GetItemCount(table);
  const int rows = static_cast<int>(log_.byteTable().size());
  // Follow the new rows only when the user is not looking further up the list.
  const int lastShown = ListView_GetTopIndex(table) + ListView_GetCountPerPage(table);
  ListView_SetItemCountEx(table, rows, LVSICF_NOSCROLL);
  if (rows > 0 && lastShown >= before) ListView_EnsureVisible(table, rows - 1, FALSE);
  InvalidateRect(table, nullptr, FALSE);
}

void ViewWindow::command(int id) {
  if (id == IDC_VIEW_CLEAR_TEXT) {
    log_.clearText();
    showText();
  } else if (id == IDC_VIEW_CLEAR_TABLE) {
    log_.clearTable();
    showRows();
  }
}

LRESULT ViewWindow::notify(const NMHDR& header) {
  if (header.idFrom != IDC_VIEW_TABLE || header.code != LVN_GETDISPINFOW) return 0;
  auto& item = const_cast<LVITEMW&>(reinterpret_cast<const NMLVDISPINFOW&>(header).item);
  if (!(item.mask & LVIF_TEXT) || item.iItem < 0 || item.iItem >= static_cast<int>(log_.byteTable().size())) return 0;
  const ByteRow& row = log_.byteTable()[static_cast<std::size_t>(item.iItem)];
  switch (item.iSubItem) {
    case 0: cell_ = std::to_wstring(row.POS); break;
    case 1: cell_ = toWide(byteLabel(static_cast<unsigned char>(row.CHAR))); break;
    default: cell_ = std::to_wstring(row.VAL); break;
  }
  lstrcpynW(item.pszText, cell_.c_str(), item.cchTextMax);
  return 0;
}

void openViewWindow(PortContext port) {
  port.language.languageSection = "view";
  if (!mayOpenDiagnostics(port.reception, port.notices, translate(port.language, "screen"))) return;
  ViewWindow window(port);
  window.run();
}

}  // namespace kelvor
