#include "windows/about_window.h"

#include <windows.h>

#include <algorithm>

#include "core/toolkit/modal_gate.h"
#include "core/toolkit/sound.h"
#include "kelvor_build.h"
#include "windows/pictures.h"
#include "windows/strip_hosts.h"

namespace kelvor {
namespace {

// The layout is 394 x 199 units of 2 pixels.
constexpr int kWidth = 788, kHeight = 398;
constexpr UINT_PTR kDisplayTimer = 1;

struct Placed {
  const wchar_t* text;
  int x, y;       // layout units: where the capitals begin
  int pointSize;  // 0: the default size
  bool bold;
};

// The publisher is the one the installer and the version resource name.
constexpr Placed kTexts[5] = {
    {L"Kelvor", 64, 54, 110, true},
    {L"DX", 350, 40, 48, true},
    {L"Dynamic Data Exchange for Nordal instruments", 72, 126, 18, false},
    {L"" KELVOR_PUBLISHER L"  \u00b7  serial instruments on the Windows desktop", 2, 188, 0, true},
    {L"Version " KELVOR_VERSION L"  \u00b7  " KELVOR_LICENSE L" licence", 324, 188, 0, true},
};

struct About {
  std::int32_t splashSeconds = 0;
  ULONGLONG start = 0;
};

HWND openAbout = nullptr;

void paint(HDC dc) {
  if (HBITMAP picture = builtInBitmap("~logoapp.jpg")) {
    BITMAP info{};
    GetObjectW(picture, sizeof info, &info);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, picture);
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, 0, 0, kWidth, kHeight, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  int nameRight = 0;
  for (int i = 0; i < 5; ++i) {
    const Placed& place = kTexts[i];
    const int height = -MulDiv(place.pointSize > 0 ? place.pointSize : 8, dpi, 72);
    HFONT font = CreateFontW(height, 0, 0, 0, place.bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                             ANTIALIASED_QUALITY, 0, L"Century Gothic");
    HGDIOBJ old = SelectObject(dc, font);
    const int length = static_cast<int>(wcslen(place.text));
    SIZE size{};
    GetTextExtentPoint32W(dc, place.text, length, &size);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    int x = place.x * 2;
    // The suffix completes the name: it follows the name's last letter whatever width the
    // installed typeface gives the name.
    if (i == 1) x = nameRight + metrics.tmAveCharWidth / 2;
    // A text that would run past the right edge is moved left so that it stays whole.
    x = std::max(0, std::min(x, kWidth - static_cast<int>(size.cx) - 6));
    // The layout gives where the capitals begin; a typeface's internal leading lies above.
    const int y = place.y * 2 - metrics.tmInternalLeading;
    TextOutW(dc, x, y, place.text, length);
    if (i == 0) nameRight = x + size.cx;
    SelectObject(dc, old);
    DeleteObject(font);
  }
}

LRESULT CALLBACK aboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* about = reinterpret_cast<About*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  // The display time is looked at on every event, the window's own timer included.
  if (about && about->splashSeconds != 0 && message != WM_DESTROY && message != WM_NCDESTROY &&
      GetTickCount64() - about->start > static_cast<ULONGLONG>(about->splashSeconds) * 1000) {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
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
    case WM_TIMER:
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_NCDESTROY:
      if (window == openAbout) openAbout = nullptr;
      delete about;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return DefWindowProcW(window, message, wParam, lParam);
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

HWND makeAboutWindow(std::int32_t splashSeconds, DWORD extendedStyle) {
  static const bool registered = [] {
    WNDCLASSW aboutClass{};
    aboutClass.lpfnWndProc = aboutProc;
    aboutClass.hInstance = GetModuleHandleW(nullptr);
    aboutClass.style = CS_DBLCLKS;
    aboutClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    aboutClass.lpszClassName = kAboutClass;
    return RegisterClassW(&aboutClass) != 0;
  }();
  if (!registered) return nullptr;
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HWND window = CreateWindowExW(extendedStyle, kAboutClass, L"Kelvor", WS_POPUP,
                                work.left + (work.right - work.left - kWidth) / 2,
                                work.top + (work.bottom - work.top - kHeight) / 2, kWidth, kHeight, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (!window) return nullptr;
  auto* about = new About{splashSeconds, GetTickCount64()};
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(about));
  SetTimer(window, kDisplayTimer, 10, nullptr);
  return window;
}

}  // namespace

void runSplash(std::int32_t splashSeconds, std::uint8_t soundEnable) {
  ModalGate::Hold hold(modalGate());
  // Above everything while the program starts.
  HWND splash = makeAboutWindow(splashSeconds, WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  if (!splash) return;
  ShowWindow(splash, SW_SHOW);
  UpdateWindow(splash);
  playSoundIfEnabled("sound\\start.wav", soundEnable);
  while (IsWindow(splash)) pumpMessages(10);
}

void openAboutWindow(std::int32_t splashSeconds, std::uint8_t soundEnable) {
  if (openAbout) {
    SetWindowPos(openAbout, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return;
  }
  // Not top-most: a modal window opened meanwhile must not end up hidden behind it.
  openAbout = makeAboutWindow(splashSeconds, WS_EX_TOOLWINDOW);
  if (!openAbout) return;
  ShowWindow(openAbout, SW_SHOW);
  UpdateWindow(openAbout);
  playSoundIfEnabled("sound\\start.wav", soundEnable);
}

}  // namespace kelvor
