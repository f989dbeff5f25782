#include "windows/main_window.h"

#include <commctrl.h>

#include "core/toolkit/encoding.h"
#include "windows/dde_message.h"
#include "windows/text_convert.h"
#include "windows/pictures.h"

namespace kelvor {
namespace {

constexpr wchar_t kStripClass[] = L"KelvorStrip";
constexpr int kMenuButtonId = 11;
constexpr int kRunButtonId = 12;
constexpr int kKeyCatcherId = 14;
constexpr int kIconPixels = 16;

int u(int units) { return units * MainWindow::kUnit; }

struct Place {
  int x, y;
};
// Where the pictures stand, in layout units.
constexpr Place kSendKeyIcon{80, 18}, kDdeIcon{100, 18}, kPortAwayIcon{44, 18};
constexpr Place kGreenLamp{24, 17}, kRedLamp{32, 17}, kOrangeLamp{54, 17};
constexpr int kLampPixels = 12;
// Where the texts stand, in pixels.
constexpr RECT kFrameArea{3 * MainWindow::kUnit, 4 * MainWindow::kUnit, 63 * MainWindow::kUnit, 14 * MainWindow::kUnit};
constexpr RECT kNameArea{70 * MainWindow::kUnit, 4 * MainWindow::kUnit, 110 * MainWindow::kUnit, 14 * MainWindow::kUnit};
constexpr Place kLampPlaces[3] = {kGreenLamp, kRedLamp, kOrangeLamp};

std::wstring shown(const std::string& bytes) { return toWide(displayText(bytes)); }

// The first `count` characters of a text (UTF-8 or Windows-1252), as the strip shows them.
std::wstring firstCharacters(const std::string& bytes, std::size_t count) {
  std::wstring text = shown(bytes);
  std::size_t units = 0;
  for (std::size_t characters = 0; units < text.size() && characters < count; ++characters) {
    units += (text[units] >= 0xD800 && text[units] < 0xDC00) ? 2 : 1;
  }
  return text.substr(0, units);
}

HFONT arial8(HWND window) {
  const int dpi = GetDeviceCaps(GetDC(window), LOGPIXELSY);
  return CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0,
                     L"Arial");
}

void drawBitmap(HDC dc, HBITMAP bitmap, int x, int y) {
  if (!bitmap) return;
  BITMAP info{};
  GetObjectW(bitmap, sizeof info, &info);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, bitmap);
  BitBlt(dc, x, y, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

}  // namespace

struct MainWindow::Impl {
  MainWindow& owner;
  HWND menuButton = nullptr, runButton = nullptr, keyCatcher = nullptr, progress = nullptr;
  HWND waitStateText = nullptr, elapsedText = nullptr;
  HWND toolTips = nullptr;
  HFONT font = nullptr;
  std::wstring name, frame;
  std::string nameShown, frameShown;  // as given, so that an unchanged text costs no conversion
  int waitState = 0, elapsed = 0;
  std::string sendKeyIcon = "~pcancel.ico", ddeIcon = "~pcancel.ico", runPicture = "~bt_run.jpg";
  std::string ddeIconWanted = ddeIcon;  // shown by the next tick
  bool lamps[3] = {false, false, false};
  std::wstring portAway;
  std::wstring sendKeyTip, runTip, menuTip, ddeTip;
  bool bandShown = false;

  // Only the part that changed is painted again, when the loop gets to it: the tick shows
  // the texts every 20 ms and a request the DDE icon twice.
  void invalidate(const RECT& area) { InvalidateRect(owner.window_, &area, FALSE); }
  static RECT lampArea(int lamp) {
    const Place place = kLampPlaces[lamp];
    return RECT{u(place.x), u(place.y), u(place.x) + kLampPixels, u(place.y) + kLampPixels};
  }

  explicit Impl(MainWindow& window) : owner(window) {}

  HWND child(const wchar_t* windowClass, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
    return CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, u(x), u(y), u(w), u(h), owner.window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  }

  void addTool(UINT_PTR id, HWND control, RECT area, const std::wstring& text) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS | (control ? TTF_IDISHWND : 0);
    tool.hwnd = owner.window_;
    tool.uId = control ? reinterpret_cast<UINT_PTR>(control) : id;
    tool.rect = area;
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(toolTips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }

  void setTip(UINT_PTR id, HWND control, std::wstring& store, const std::string& text) {
    store = shown(text);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = owner.window_;
    tool.uId = control ? reinterpret_cast<UINT_PTR>(control) : id;
    tool.lpszText = const_cast<wchar_t*>(store.c_str());
    SendMessageW(toolTips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }

  static RECT iconArea(Place place) { return RECT{u(place.x), u(place.y), u(place.x) + kIconPixels, u(place.y) + kIconPixels}; }

  void build() {
    font = arial8(owner.window_);
    // Controls 11 and 12: picture buttons; 14, 6 and 15 lie below the visible band on purpose.
    menuButton = child(L"BUTTON", L"", BS_OWNERDRAW, 112, 13, 13, 13, kMenuButtonId);
    runButton = child(L"BUTTON", L"", BS_OWNERDRAW, 112, 1, 13, 13, kRunButtonId);
    progress = child(PROGRESS_CLASSW, L"", 0, 1, 28, 124, 8, 4);
    SendMessageW(progress, PBM_SETRANGE32, 0, 100);
    child(L"STATIC", L"Waitrs", 0, 4, 72, 20, 8, 5);
    waitStateText = child(L"STATIC", L"0", 0, 30, 72, 10, 8, 6);
    keyCatcher = child(L"BUTTON", L"Pedate", BS_PUSHBUTTON, 2, 86, 36, 18, kKeyCatcherId);
    elapsedText = child(L"STATIC", L"0", 0, 46, 70, 20, 8, 15);
    // Not owned by the strip: an owned top-most window above it would keep the strip itself
    // out of the top-most band under Wine, whose SetWindowPos places an owner below its popups.
    toolTips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    addTool(0, menuButton, {}, menuTip);
    addTool(0, runButton, {}, runTip);
    addTool(2, nullptr, iconArea(kSendKeyIcon), sendKeyTip);
    addTool(16, nullptr, iconArea(kPortAwayIcon), portAway);
    addTool(3, nullptr, iconArea(kDdeIcon), ddeTip);
  }

  void paint(HDC dc) {
    drawBitmap(dc, builtInBitmap("~kelvor.jpg"), 0, 0);
    const char* lampPictures[3] = {"~led_v.jpg", "~led_r.jpg", "~led_o.jpg"};
    for (int i = 0; i < 3; ++i) {
      if (lamps[i]) drawBitmap(dc, builtInBitmap(lampPictures[i]), u(kLampPlaces[i].x), u(kLampPlaces[i].y));
    }
    auto icon = [&](const std::string& picture, Place place) {
      if (HICON handle = builtInIcon(picture, kIconPixels)) {
        DrawIconEx(dc, u(place.x), u(place.y), handle, kIconPixels, kIconPixels, 0, nullptr, DI_NORMAL);
      }
    };
    icon(sendKeyIcon, kSendKeyIcon);
    icon(ddeIcon, kDdeIcon);
    if (!portAway.empty()) icon("~plost.ico", kPortAwayIcon);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    RECT frameArea = kFrameArea;
    SetTextColor(dc, RGB(255, 255, 0));
    DrawTextW(dc, frame.c_str(), -1, &frameArea, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    RECT nameArea = kNameArea;
    SetTextColor(dc, RGB(0, 128, 128));
    DrawTextW(dc, name.c_str(), -1, &nameArea, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, oldFont);
  }

  void drawButton(const DRAWITEMSTRUCT& item) {
    const bool run = item.CtlID == kRunButtonId;
    HBITMAP picture = builtInBitmap(run ? runPicture : "~bt_conf.jpg");
    HDC source = CreateCompatibleDC(item.hDC);
    HGDIOBJ old = SelectObject(source, picture);
    const int w = item.rcItem.right - item.rcItem.left, h = item.rcItem.bottom - item.rcItem.top;
    const int shift = (item.itemState & ODS_SELECTED) ? 1 : 0;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    BitBlt(item.hDC, shift, shift, w, h, source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
    if (item.itemState & ODS_DISABLED) {
      // A disabled button is shown veiled, as Windows greys a picture.
      HBRUSH veil = CreateHatchBrush(HS_DIAGCROSS, GetSysColor(COLOR_BTNSHADOW));
      const int oldMode = SetBkMode(item.hDC, TRANSPARENT);
      RECT area = item.rcItem;
      FillRect(item.hDC, &area, veil);
      SetBkMode(item.hDC, oldMode);
      DeleteObject(veil);
    }
  }

  void command(int id) {
    const auto& hooks = owner.hooks;
    owner.focusKeyCatcher();
    if (id == kMenuButtonId && hooks.menuButton) hooks.menuButton();
    if (id == kRunButtonId && hooks.runButton) hooks.runButton();
    if (id == kKeyCatcherId && hooks.keyCatcher) hooks.keyCatcher();
  }

  LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_PAINT: {
        PAINTSTRUCT paintInfo;
        HDC dc = BeginPaint(window, &paintInfo);
        paint(dc);
        EndPaint(window, &paintInfo);
        return 0;
      }
      case WM_ERASEBKGND:
        return 1;
      case WM_DRAWITEM:
        drawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) command(LOWORD(wParam));
        return 0;
      case WM_TIMER:
        if (wParam == kTickTimerId && owner.hooks.tick) owner.hooks.tick();
        return 0;
      case WM_MOVE: {
        RECT frameRect;
        GetWindowRect(window, &frameRect);
        if (owner.hooks.moved) owner.hooks.moved(frameRect.left, frameRect.top);
        return 0;
      }
      case WM_CLOSE:
        if (owner.hooks.closing) {
          owner.hooks.closing();
        } else {
          owner.close();
        }
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
  }
};

namespace {

LRESULT CALLBACK stripProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  }
  auto* impl = reinterpret_cast<MainWindow::Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return impl ? impl->handle(window, message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

SIZE frameSize(int heightUnits) {
  RECT area{0, 0, u(MainWindow::kWidthUnits), u(heightUnits)};
  AdjustWindowRectEx(&area, kStyle, FALSE, 0);
  return SIZE{area.right - area.left, area.bottom - area.top};
}

}  // namespace

MainWindow::MainWindow() : impl_(new Impl(*this)) {}

MainWindow::~MainWindow() {
  if (window_) DestroyWindow(window_);
  delete impl_;
}

bool MainWindow::create(int x, int y) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSW stripClass{};
  stripClass.lpfnWndProc = stripProc;
  stripClass.hInstance = GetModuleHandleW(nullptr);
  stripClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  stripClass.hIcon = LoadIconW(stripClass.hInstance, L"KELVOR_ICON");
  stripClass.lpszClassName = kStripClass;
  RegisterClassW(&stripClass);
  const SIZE size = frameSize(kShownHeightUnits);
  window_ = CreateWindowExW(0, kStripClass, L"NORDAL - Kelvor", kStyle, x, y, size.cx, size.cy, nullptr, nullptr,
                            stripClass.hInstance, impl_);
  if (!window_) return false;
  impl_->build();
  return true;
}

void MainWindow::show() {
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  focusKeyCatcher();
}

void MainWindow::close() {
  if (window_) {
    KillTimer(window_, kTickTimerId);
    DestroyWindow(window_);
    window_ = nullptr;
  }
}

void MainWindow::setName(const std::string& name) {
  if (name == impl_->nameShown) return;
  impl_->nameShown = name;
  std::wstring text = firstCharacters(name, 10);
  if (text == impl_->name) return;
  impl_->name = std::move(text);
  impl_->invalidate(kNameArea);
}

void MainWindow::setFrame(const std::string& frame) {
  if (frame == impl_->frameShown) return;
  impl_->frameShown = frame;
  std::wstring text = firstCharacters(frame, 20);
  if (text == impl_->frame) return;
  impl_->frame = std::move(text);
  impl_->invalidate(kFrameArea);
}

void MainWindow::setLamp(Lamp lamp, bool shown) {
  bool& on = impl_->lamps[static_cast<int>(lamp)];
  if (on == shown) return;
  on = shown;
  impl_->invalidate(Impl::lampArea(static_cast<int>(lamp)));
}

void MainWindow::hideLamps() {
  for (int lamp = 0; lamp < 3; ++lamp) setLamp(static_cast<Lamp>(lamp), false);
}

void MainWindow::setSendKeyIcon(const std::string& picture) {
  if (impl_->sendKeyIcon == picture) return;
  impl_->sendKeyIcon = picture;
  const RECT area = Impl::iconArea(kSendKeyIcon);
  InvalidateRect(window_, &area, FALSE);
}

void MainWindow::setSendKeyToolTip(const std::string& text) { impl_->setTip(2, nullptr, impl_->sendKeyTip, text); }

void MainWindow::setDdeIcon(const std::string& picture) {
  impl_->ddeIconWanted = picture;
  showDdeIcon();
}

bool MainWindow::setDdeIconLater(const std::string& picture) {
  impl_->ddeIconWanted = picture;
  return impl_->ddeIconWanted != impl_->ddeIcon;
}

void MainWindow::showDdeIcon() {
  if (impl_->ddeIcon == impl_->ddeIconWanted) return;
  impl_->ddeIcon = impl_->ddeIconWanted;
  // Painted by the loop, never from here; only the icon's square.
  impl_->invalidate(Impl::iconArea(kDdeIcon));
}

void MainWindow::setDdeToolTip(const std::string& text) { impl_->setTip(3, nullptr, impl_->ddeTip, text); }

void MainWindow::setRunButton(bool running, const std::string& toolTip) {
  impl_->runPicture = running ? "~bt_off.jpg" : "~bt_run.jpg";
  impl_->setTip(0, impl_->runButton, impl_->runTip, toolTip);
  InvalidateRect(impl_->runButton, nullptr, FALSE);
}

void MainWindow::setMenuButton(bool enabled, const std::string& toolTip) {
  EnableWindow(impl_->menuButton, enabled);
  impl_->setTip(0, impl_->menuButton, impl_->menuTip, toolTip);
}

bool MainWindow::menuButtonEnabled() const { return IsWindowEnabled(impl_->menuButton); }

void MainWindow::setPortAway(const std::string& description) {
  const bool wasAway = !impl_->portAway.empty();
  impl_->setTip(16, nullptr, impl_->portAway, description);
  if (wasAway != !impl_->portAway.empty()) impl_->invalidate(Impl::iconArea(kPortAwayIcon));
}

void MainWindow::setWaitBandShown(bool shown) {
  if (impl_->bandShown == shown) return;
  impl_->bandShown = shown;
  const SIZE size = frameSize(shown ? kFullHeightUnits : kShownHeightUnits);
  SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::setProgress(double percent) {
  SendMessageW(impl_->progress, PBM_SETPOS, static_cast<WPARAM>(percent < 0 ? 0 : percent > 100 ? 100 : percent), 0);
  UpdateWindow(impl_->progress);
}

void MainWindow::setWaitValues(int waitState, int elapsed) {
  if (waitState != impl_->waitState) SetWindowTextW(impl_->waitStateText, std::to_wstring(waitState).c_str());
  if (elapsed != impl_->elapsed) SetWindowTextW(impl_->elapsedText, std::to_wstring(elapsed).c_str());
  impl_->waitState = waitState;
  impl_->elapsed = elapsed;
}

void MainWindow::focusKeyCatcher() { SetFocus(impl_->keyCatcher); }

void MainWindow::applyZOrder(int mode) {
  constexpr UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  if (mode == 1) {
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, keep);
  } else if (mode == 2) {
    SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
    SetWindowPos(window_, HWND_BOTTOM, 0, 0, 0, 0, keep);
  }
}

int MainWindow::popupMenu(const std::vector<MenuEntry>& menu) {
  HMENU popup = CreatePopupMenu();
  for (const MenuEntry& entry : menu) {
    if (entry.separator) {
      AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(popup, MF_STRING | (entry.checked ? MF_CHECKED : MF_UNCHECKED), static_cast<UINT_PTR>(entry.item),
                  shown(entry.text).c_str());
    }
  }
  POINT cursor;
  GetCursorPos(&cursor);
  // Without the foreground, the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(window_);
  const int chosen = TrackPopupMenuEx(popup, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN, cursor.x, cursor.y, window_,
                                      nullptr);
  PostMessageW(window_, WM_NULL, 0, 0);
  DestroyMenu(popup);
  return chosen;
}

}  // namespace kelvor
