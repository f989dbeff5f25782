#include "windows/configuration_window.h"

#include <commctrl.h>

#include <functional>
#include <vector>

#include "core/line/serial_ports.h"
#include "core/settings/configuration_window_rules.h"
#include "core/toolkit/encoding.h"
#include "core/toolkit/modal_gate.h"
#include "windows/configuration_ids.h"
#include "windows/file_dialog.h"
#include "windows/pictures.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

constexpr UINT_PTR kBufferModeTimer = 1;
constexpr int kTabs = 4;
constexpr int kFirstLineParameter = IDC_GROUP_BAUDRATE, kLastLineParameter = IDC_USEDTR;

struct Page {
  const char* key;
  const char* picture;
};
constexpr Page kPages[kTabs] = {
    {"tabport", "~rs232.jpg"}, {"tabdefine", "~define.jpg"}, {"tabdde", "~dde.jpg"}, {"tabsound", "~sound.jpg"}};

// The controls whose texts come from the language file; the others keep the template's.
struct KeyedText {
  int id;
  const char* key;
};
constexpr KeyedText kKeyedTexts[] = {
    {IDC_GROUP_PORT, "port"},
    {IDC_GROUP_BAUDRATE, "baudrate"},
    {IDC_GROUP_PARITY, "parity"},
    {IDC_PARITY_NONE, "none"},
    {IDC_PARITY_ODD, "odd"},
    {IDC_PARITY_EVEN, "even"},
    {IDC_GROUP_DATABITS, "databits"},
    {IDC_GROUP_STOPBITS, "stopbits"},
    {IDC_GROUP_FLOW, "flowcontrol"},
    {IDC_GROUP_SELECTENDOF, "selectendof"},
    {IDC_ENDCHAR, "endchar"},
    {IDC_ENDSTRING, "endstring"},
    {IDC_ENDBYTE, "endbyte"},
    {IDC_GROUP_ENDOFCHAR, "endofchar"},
    {IDC_GROUP_NUMBEROFBYTE, "numberofbyte"},
    {IDC_GROUP_ENDOFSTRING, "endofstring"},
    {IDC_GROUP_CLEARBUFFER, "clearbuffer"},
    {IDC_ENABLECLEAR, "enableclearbuffer"},
    {IDC_GROUP_LENFILTER, "lenfilter"},
    {IDC_LENFILTERENABLE, "lenfilterenable"},
    {IDC_LABEL_START, "startfilter"},
    {IDC_LABEL_LEN, "endfilter"},
    {IDC_ENABLECONVERTVALUE, "enableconvertvalue"},
    {IDC_BUFFERMODE, "buffermode"},
    {IDC_GROUP_CONFIGNAME, "configname"},
    {IDC_GROUP_SENDKEY, "groupsendkey"},
    {IDC_ENABLESENDKEY, "enablesendkey"},
    {IDC_MSGSENDKEY, "msgsendkey"},
    {IDC_GROUP_DDE, "groupdde"},
    {IDC_ENABLESERVERDDE, "enableserverdde"},
    {IDC_SEND, "send"},
    {IDC_REQUEST, "request"},
    {IDC_MSG1SERVERDDE, "msg1serverdde"},
    {IDC_MSG2SERVERDDE, "msg2serverdde"},
    {IDC_MSG3SERVERDDE, "msg3serverdde"},
    {IDC_GROUP_SOUND, "groupsound"},
    {IDC_SOUNDENABLE, "soundenable"},
    {IDC_GROUP_SOUNDKEY, "groupsoundkey"},
    {IDC_ENABLEKEYSOUND, "soundenable"},
    {IDC_GROUP_SOUNDDDE, "groupsounddde"},
    {IDC_ENABLEDDESOUND, "soundenable"},
};

// The tab a control belongs to (0..3), or -1 for the controls every tab shows.
int tabOf(int id) { return id >= 1100 && id < 1100 + 100 * kTabs ? id / 100 - 11 : -1; }

std::wstring textOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring shown(const std::string& bytes) { return toWide(displayText(bytes)); }

class ConfigurationWindow {
 public:
  ConfigurationWindow(Configuration& config, Language& language, const std::string& iniFilePath)
      : config_(config), language_(language), iniFilePath_(iniFilePath) {}

  HWND dialog() const { return dialog_; }
  void attach(HWND dialog);
  void display();
  void command(int id, int notification);
  void selectTab(int tab);
  int tab() const { return tab_; }
  void drawPicture(const DRAWITEMSTRUCT& item);
  void tick() {
    if (applyBufferModeRule(config_)) display();
  }

 private:
  // What a control shows from its field, and what it does with a change.
  struct Binding {
    int id;
    std::function<void()> show;
    std::function<void(int notification)> changed;
  };

  HWND item(int id) const { return GetDlgItem(dialog_, id); }
  void setTexts();
  void addToolTip(int id, const std::wstring& text);
  void bindCheck(int id, std::uint8_t& field);
  template <typename Field>
  void bindOption(int id, Field& field, long long value);
  void bindNumber(int id, std::int32_t& field);
  template <std::size_t N>
  void bindText(int id, Text<N>& field);
  void bindPath(int id, PathText<250>& field);
  void bindFasterRates();
  void bindAuto();
  void bindAll();
  void applyLineParameterLock();
  void toggleAutoByFocus();
  void chooseSoundFile(PathText<250>& field);
  void fitTexts();
  HFONT fontOfHeight(int pixels);

  Configuration& config_;
  Language& language_;
  std::string iniFilePath_;
  HWND dialog_ = nullptr;
  HWND toolTips_ = nullptr;
  std::vector<Binding> bindings_;
  std::vector<HFONT> fonts_;  // the smaller fonts of texts that did not fit, by height
  int tab_ = 0;
  bool displaying_ = false;

 public:
  ~ConfigurationWindow() {
    for (HFONT font : fonts_) DeleteObject(font);
  }
};

void ConfigurationWindow::attach(HWND dialog) {
  dialog_ = dialog;
  setTexts();
  bindAll();
  selectTab(0);
  display();
  SetTimer(dialog_, kBufferModeTimer, 500, nullptr);
}

void ConfigurationWindow::setTexts() {
  language_.languageSection = "config";
  const auto text = [this](const char* key) { return toWide(translate(language_, key)); };
  SetWindowTextW(dialog_, text("screen").c_str());
  HWND tabs = item(IDC_CONFIG_TABS);
  for (int n = 0; n < kTabs; ++n) {
    std::wstring caption = text(kPages[n].key);
    TCITEMW tab{};
    tab.mask = TCIF_TEXT;
    tab.pszText = caption.data();
    SendMessageW(tabs, TCM_INSERTITEMW, n, reinterpret_cast<LPARAM>(&tab));
  }
  for (const KeyedText& keyed : kKeyedTexts) SetDlgItemTextW(dialog_, keyed.id, text(keyed.key).c_str());

  toolTips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, dialog_,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  for (int port = 0; port < 8; ++port) addToolTip(IDC_PORT_COM1 + port, toWide(comDevice(iniFilePath_, port)));
  addToolTip(IDC_BAUDRATE_FASTER, L"Faster baud rates");
  addToolTip(IDC_SELECT_FILESOUNDKEY, text("selectfile"));
  addToolTip(IDC_SELECT_FILESOUNDDDE, text("selectfile"));
  fitTexts();
}

HFONT ConfigurationWindow::fontOfHeight(int pixels) {
  LOGFONTW look{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog_, WM_GETFONT, 0, 0)), sizeof look, &look);
  look.lfHeight = -pixels;
  look.lfWidth = 0;
  HFONT font = CreateFontIndirectW(&look);
  fonts_.push_back(font);
  return font;
}

// A text that does not fit its control (a long translation, a wide font) shrinks a little
// rather than being cut.
void ConfigurationWindow::fitTexts() {
  constexpr int kSmallestPixels = 8;
  HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog_, WM_GETFONT, 0, 0));
  LOGFONTW look{};
  GetObjectW(dialogFont, sizeof look, &look);
  const int fullPixels = look.lfHeight < 0 ? -look.lfHeight : look.lfHeight;
  HDC dc = GetDC(dialog_);
  for (HWND control = GetWindow(dialog_, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
    wchar_t kind[16] = {};
    GetClassNameW(control, kind, 16);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const LONG type = style & BS_TYPEMASK;
    int room = 0;
    RECT area;
    GetClientRect(control, &area);
    if (lstrcmpiW(kind, L"Button") == 0 && type != BS_PUSHBUTTON && type != BS_OWNERDRAW) {
      // Beside a box or dot; a group's title between its frame's corners.
      room = area.right - (type == BS_GROUPBOX ? 16 : GetSystemMetrics(SM_CXMENUCHECK) + 6);
    } else if (lstrcmpiW(kind, L"Static") == 0 && (style & SS_TYPEMASK) == SS_LEFT) {
      room = area.right;
    } else {
      continue;
    }
    const std::wstring text = textOf(control);
    for (int pixels = fullPixels; pixels >= kSmallestPixels; --pixels) {
      HFONT font = pixels == fullPixels ? dialogFont : fontOfHeight(pixels);
      HGDIOBJ old = SelectObject(dc, font);
      SIZE size{};
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
      SelectObject(dc, old);
      if (size.cx <= room || pixels == kSmallestPixels) {
        if (font != dialogFont) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        break;
      }
    }
  }
  ReleaseDC(dialog_, dc);
}

void ConfigurationWindow::addToolTip(int id, const std::wstring& text) {
  std::wstring copy = text;
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog_;
  tool.uId = reinterpret_cast<UINT_PTR>(item(id));
  tool.lpszText = copy.data();
  SendMessageW(toolTips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void ConfigurationWindow::bindCheck(int id, std::uint8_t& field) {
  bindings_.push_back({id, [this, id, &field] { CheckDlgButton(dialog_, id, field != 0 ? BST_CHECKED : BST_UNCHECKED); },
                       [this, id, &field](int notification) {
                         if (notification == BN_CLICKED) field = IsDlgButtonChecked(dialog_, id) == BST_CHECKED ? 1 : 0;
                       }});
}

template <typename Field>
void ConfigurationWindow::bindOption(int id, Field& field, long long value) {
  // A value that no button stands for (a never-loaded record, a hand-edited file) shows no
  // button ticked rather than a wrong one.
  bindings_.push_back({id, [this, id, &field, value] {
                         CheckDlgButton(dialog_, id, field == value ? BST_CHECKED : BST_UNCHECKED);
                       },
                       [this, id, &field, value](int notification) {
                         // A radio button the keyboard only moved onto tells a click too;
                         // only a ticked one stores its value.
                         if (notification == BN_CLICKED && IsDlgButtonChecked(dialog_, id) == BST_CHECKED)
                           field = keepWidth<Field>(value);
                       }});
}

void ConfigurationWindow::bindNumber(int id, std::int32_t& field) {
  // Three digits typed at most; a longer value loaded from a file is shown whole, not cut.
  SendMessageW(item(id), EM_LIMITTEXT, 3, 0);
  bindings_.push_back({id, [this, id, &field] {
                         const std::wstring number = toWide(writeNumber(field));
                         if (textOf(item(id)) != number) SetWindowTextW(item(id), number.c_str());
                       },
                       [this, id, &field](int notification) {
                         if (notification == EN_CHANGE) field = entryNumber(fromWide(textOf(item(id))));
                       }});
}

template <std::size_t N>
void ConfigurationWindow::bindText(int id, Text<N>& field) {
  SendMessageW(item(id), EM_LIMITTEXT, N, 0);
  const auto show = [this, id, &field] {
    const std::wstring text = shown(field.trimmed());
    // Trailing blanks carry no meaning; leave them where the user is typing.
    if (toWide(trimRight(fromWide(textOf(item(id))))) != text) SetWindowTextW(item(id), text.c_str());
  };
  bindings_.push_back({id, show, [this, id, &field, show](int notification) {
                         if (notification != EN_CHANGE) return;
                         const std::string typed = fromWide(textOf(item(id)));
                         if (representableAsWindows1252(typed)) {
                           field.assign(toWindows1252(typed));
                           return;
                         }
                         // The files and the instruments speak Windows-1252: a character
                         // without a form there is refused, not stored as "?".
                         MessageBeep(MB_OK);
                         displaying_ = true;
                         show();
                         SendMessageW(item(id), EM_SETSEL, 0x7fffffff, 0x7fffffff);
                         displaying_ = false;
                       }});
}

void ConfigurationWindow::bindPath(int id, PathText<250>& field) {
  // Paths are held whole, in UTF-8 as every name inside Kelvor: a cut path names another file.
  bindings_.push_back({id, [this, id, &field] {
                         const std::wstring text = shown(field.trimmed());
                         if (toWide(trimRight(fromWide(textOf(item(id))))) != text) SetWindowTextW(item(id), text.c_str());
                       },
                       [this, id, &field](int notification) {
                         if (notification == EN_CHANGE) field.assign(fromWide(textOf(item(id))));
                       }});
}

// The faster rates beyond the box's classic ones: choosing one leaves no button of the box
// ticked; a button leaves this list blank.
void ConfigurationWindow::bindFasterRates() {
  HWND list = item(IDC_BAUDRATE_FASTER);
  SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L""));
  for (const int rate : kFasterBaudRates)
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_wstring(rate).c_str()));
  bindings_.push_back({IDC_BAUDRATE_FASTER,
                       [this, list] {
                         const int rate = bitsPerSecond(config_.BAUDRATE);
                         int index = 0;
                         for (std::size_t n = 0; n < std::size(kFasterBaudRates); ++n) {
                           if (kFasterBaudRates[n] == rate) index = static_cast<int>(n) + 1;
                         }
                         SendMessageW(list, CB_SETCURSEL, index, 0);
                       },
                       [this, list](int notification) {
                         if (notification != CBN_SELCHANGE) return;
                         const auto index = SendMessageW(list, CB_GETCURSEL, 0, 0);
                         if (index <= 0) return;
                         config_.BAUDRATE = keepWidth<std::int16_t>(kFasterBaudRates[index - 1]);
                         display();
                       }});
}

// The auto-configuration check box does not tick on a click like its neighbours: the window
// flips `AUTO` each time the box receives the focus, by mouse or by keyboard, and then sends
// the focus on, so that the next click or Tab flips it again.
void ConfigurationWindow::bindAuto() {
  bindings_.push_back({IDC_AUTO, [this] { CheckDlgButton(dialog_, IDC_AUTO, config_.AUTO != 0 ? BST_CHECKED : BST_UNCHECKED); },
                       [this](int notification) {
                         if (notification == BN_SETFOCUS) toggleAutoByFocus();
                       }});
}

void ConfigurationWindow::bindAll() {
  for (int port = 0; port < 8; ++port) bindOption(IDC_PORT_COM1 + port, config_.PORT, port);
  bindAuto();
  const int rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
  // 38400 does not fit the 16-bit field: it is held (and stored in files) as -27136.
  for (int n = 0; n < 8; ++n) bindOption(IDC_BAUDRATE_300 + n, config_.BAUDRATE, keepWidth<std::int16_t>(rates[n]));
  bindFasterRates();
  bindOption(IDC_PARITY_NONE, config_.PARITY, 0);
  bindOption(IDC_PARITY_ODD, config_.PARITY, 1);
  bindOption(IDC_PARITY_EVEN, config_.PARITY, 2);
  bindOption(IDC_DATABITS_7, config_.DATABITS, 7);
  bindOption(IDC_DATABITS_8, config_.DATABITS, 8);
  bindOption(IDC_STOPBITS_1, config_.STOPBITS, 1);
  bindOption(IDC_STOPBITS_2, config_.STOPBITS, 2);
  bindCheck(IDC_USECTS, config_.USECTS);
  bindCheck(IDC_USEXON, config_.USEXON);
  bindCheck(IDC_USEDTR, config_.USEDTR);

  // "End string" stands in the middle but stores 3: the values follow the framing modes.
  bindOption(IDC_ENDCHAR, config_.SELECTENDOF, 1);
  bindOption(IDC_ENDSTRING, config_.SELECTENDOF, 3);
  bindOption(IDC_ENDBYTE, config_.SELECTENDOF, 2);
  bindOption(IDC_ENDOFCHAR_CR, config_.ENDOFCHAR, 1);
  bindOption(IDC_ENDOFCHAR_CRLF, config_.ENDOFCHAR, 2);
  bindNumber(IDC_NUMBEROFBYTE, config_.NUMBEROFBYTE);
  bindText(IDC_ENDOFSTRING, config_.ENDOFSTRING);
  bindCheck(IDC_ENABLECLEAR, config_.ENABLECLEAR);
  bindCheck(IDC_LENFILTERENABLE, config_.LENFILTERENABLE);
  bindNumber(IDC_LENFILTERSTART, config_.LENFILTERSTART);
  bindNumber(IDC_LENFILTEREND, config_.LENFILTEREND);
  bindCheck(IDC_ENABLECONVERTVALUE, config_.ENABLECONVERTVALUE);
  bindCheck(IDC_BUFFERMODE, config_.BUFFERMODE);

  bindText(IDC_NAME, config_.NAME);
  bindCheck(IDC_ENABLESENDKEY, config_.ENABLESENDKEY);
  bindNumber(IDC_DELAYMS, config_.DELAYMS);
  bindCheck(IDC_ENABLESERVERDDE, config_.ENABLESERVERDDE);
  bindOption(IDC_SEND, config_.SENDORREQUEST, 0);
  bindOption(IDC_REQUEST, config_.SENDORREQUEST, 1);

  bindCheck(IDC_SOUNDENABLE, config_.SOUNDENABLE);
  bindCheck(IDC_ENABLEKEYSOUND, config_.ENABLEKEYSOUND);
  bindPath(IDC_FILESOUNDKEY, config_.FILESOUNDKEY);
  bindCheck(IDC_ENABLEDDESOUND, config_.ENABLEDDESOUND);
  bindPath(IDC_FILESOUNDDDE, config_.FILESOUNDDDE);
  bindings_.push_back({IDC_SELECT_FILESOUNDKEY, nullptr, [this](int notification) {
                         if (notification == BN_CLICKED) chooseSoundFile(config_.FILESOUNDKEY);
                       }});
  bindings_.push_back({IDC_SELECT_FILESOUNDDDE, nullptr, [this](int notification) {
                         if (notification == BN_CLICKED) chooseSoundFile(config_.FILESOUNDDDE);
                       }});
}

void ConfigurationWindow::display() {
  displaying_ = true;
  for (const Binding& binding : bindings_) {
    if (binding.show) binding.show();
  }
  displaying_ = false;
  applyLineParameterLock();
}

void ConfigurationWindow::command(int id, int notification) {
  // Texts set while displaying are the record's own, not the user's changes.
  if (displaying_) return;
  for (const Binding& binding : bindings_) {
    if (binding.id == id && binding.changed) {
      binding.changed(notification);
      return;
    }
  }
}

void ConfigurationWindow::applyLineParameterLock() {
  const bool locked = lineParametersLocked(config_);
  for (int id = kFirstLineParameter; id <= kLastLineParameter; ++id) {
    if (HWND control = item(id)) EnableWindow(control, !locked);
  }
}

void ConfigurationWindow::toggleAutoByFocus() {
  toggleAuto(config_);
  applyLineParameterLock();
  CheckDlgButton(dialog_, IDC_AUTO, config_.AUTO != 0 ? BST_CHECKED : BST_UNCHECKED);
  // Leave the box once the click or key that brought the focus is done, so that the next
  // one flips it again: to the flow-control group's first box, or on when that is disabled.
  HWND flow = item(IDC_USECTS);
  if (IsWindowEnabled(flow)) {
    PostMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(flow), TRUE);
  } else {
    PostMessageW(dialog_, WM_NEXTDLGCTL, 0, FALSE);
  }
}

void ConfigurationWindow::selectTab(int tab) {
  tab_ = tab;
  SendMessageW(item(IDC_CONFIG_TABS), TCM_SETCURSEL, tab, 0);
  HWND focus = GetFocus();
  for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const int owner = tabOf(GetDlgCtrlID(child));
    if (owner < 0) continue;
    ShowWindow(child, owner == tab ? SW_SHOWNA : SW_HIDE);
    // The focus may not stay on a control the new tab hides.
    if (child == focus && owner != tab) SetFocus(item(IDC_CONFIG_TABS));
  }
  InvalidateRect(item(IDC_CONFIG_PICTURE), nullptr, TRUE);
}

void ConfigurationWindow::drawPicture(const DRAWITEMSTRUCT& drawn) {
  FillRect(drawn.hDC, &drawn.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  HBITMAP picture = builtInBitmap(kPages[tab_].picture);
  if (!picture) return;
  BITMAP info{};
  GetObjectW(picture, sizeof info, &info);
  HDC source = CreateCompatibleDC(drawn.hDC);
  HGDIOBJ old = SelectObject(source, picture);
  SetStretchBltMode(drawn.hDC, HALFTONE);
  StretchBlt(drawn.hDC, drawn.rcItem.left, drawn.rcItem.top, drawn.rcItem.right - drawn.rcItem.left,
             drawn.rcItem.bottom - drawn.rcItem.top, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

void ConfigurationWindow::chooseSoundFile(PathText<250>& field) {
  // The title is the same in every language.
  if (auto chosen = chooseFile(dialog_, FileDialogKind::Open, "Select file", field.trimmed(), "*.WAV|*.WAV"))
    field.assign(*chosen);
  display();
}

void closeWindow(HWND dialog) {
  // The owner is enabled before the window goes, so that Windows gives it the activation back.
  EnableWindow(GetWindow(dialog, GW_OWNER), TRUE);
  DestroyWindow(dialog);
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* window = reinterpret_cast<ConfigurationWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      reinterpret_cast<ConfigurationWindow*>(lParam)->attach(dialog);
      // The focus starts on the tabs, where the arrow keys change tab.
      SetFocus(GetDlgItem(dialog, IDC_CONFIG_TABS));
      return FALSE;
    case WM_COMMAND:
      if (!window) return FALSE;
      // Escape closes the window; Enter does nothing, as there is no button to confirm.
      if (LOWORD(wParam) == IDCANCEL) {
        closeWindow(dialog);
      } else if (LOWORD(wParam) != IDOK) {
        window->command(LOWORD(wParam), HIWORD(wParam));
      }
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (window && header->idFrom == IDC_CONFIG_TABS && header->code == TCN_SELCHANGE)
        window->selectTab(static_cast<int>(SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
      return TRUE;
    }
    case WM_DRAWITEM:
      if (window && wParam == IDC_CONFIG_PICTURE) window->drawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_TIMER:
      if (window && wParam == kBufferModeTimer) window->tick();
      return TRUE;
    case WM_CLOSE:
      closeWindow(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

// Ctrl+Tab and Ctrl+Shift+Tab change tab from anywhere in the window, as in the system's own
// tabbed windows.
bool changesTab(ConfigurationWindow& window, const MSG& message) {
  if (message.message != WM_KEYDOWN || message.wParam != VK_TAB || GetKeyState(VK_CONTROL) >= 0) return false;
  if (message.hwnd != window.dialog() && !IsChild(window.dialog(), message.hwnd)) return false;
  const int step = GetKeyState(VK_SHIFT) < 0 ? kTabs - 1 : 1;
  window.selectTab((window.tab() + step) % kTabs);
  return true;
}

}  // namespace

void openConfigurationWindow(HWND owner, Configuration& config, Language& language, const std::string& iniFilePath,
                             const std::function<void()>& nameChanged) {
  ModalGate::Hold hold(modalGate());
  ConfigurationWindow window(config, language, iniFilePath);
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CONFIGURATION), owner, dialogProc,
                                   reinterpret_cast<LPARAM>(&window));
  if (!dialog) return;
  EnableWindow(owner, FALSE);
  ShowWindow(dialog, SW_SHOW);
  MSG message;
  while (IsWindow(dialog)) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The loop that ends the program is the outermost one: give it the quit back.
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      closeWindow(dialog);
      break;
    }
    if (changesTab(window, message)) continue;
    const std::string name = config.NAME.trimmed();
    if (!IsDialogMessageW(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (nameChanged && config.NAME.trimmed() != name) nameChanged();
  }
  EnableWindow(owner, TRUE);
}

}  // namespace kelvor
