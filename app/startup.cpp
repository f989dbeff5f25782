#include "app/startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>
#include <QWindow>
#include <iostream>

#include "app/dde_host.h"
#include "app/kelvor_state.h"
#include "app/main_window.h"
#include "app/outputs_wiring.h"
#include "app/qt_notices.h"
#include "app/subsystem_wiring.h"
#include "config/file_commands.h"
#include "i18n/language_file_dialog.h"
#include "platform/profile_file.h"
#include "platform/termios_serial.h"
#include "toolkit/about_window.h"
#include "toolkit/sound.h"

namespace kelvor {
namespace {

// Lets the window system map and frame a newly shown window (bounded: a second at most).
void waitUntilFramed(QWidget& window) {
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < 1000 && (window.windowHandle() == nullptr || !window.windowHandle()->isExposed())) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    QThread::msleep(5);
  }
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
}

inline constexpr char kWaylandLimitsText[] =
    "Kelvor's windows run directly on Wayland, as no X server (Xwayland) answers. On Wayland the "
    "strip's position is not restored at start, and whether it stays on top of other windows is "
    "up to the desktop. Everything else works as usual.";

}  // namespace

int runMainWindowProcedure(QApplication& app) {
  KelvorState state;
  // Every unit tells the user through this one seam; errors also reach standard error.
  QtNotices notices(std::cerr);
  // A settings file too large to read is said once, without holding anything up. The profile
  // files are read through free functions all over the program, hence a hook of their own.
  setProfileFileNotice([&notices](const std::string& text) {
    notices.mention({NoticeKind::Warning, "Kelvor", text});
  });
  struct ForgetNotice {
    ~ForgetNotice() { setProfileFileNotice(nullptr); }
  } forgetNotice;

  // 1. The main window, bound to the values it shows, not yet shown.
  MainWindow window(state, notices);
  notices.setOwner(&window);
  // 2, 3.
  state.splashSeconds = 10;
  state.touchSoundPath = "sound\\touch.wav";
  // 4. Fixed once: a file dialog that later moves the working directory changes nothing here.
  state.iniFilePath = currentDirectory() + "/KELVOR.INI";
  // 5.
  window.windowX = keepWidth<std::int32_t>(readNumber(readProfileString(state.iniFilePath, "SCREEN", "PosX")));
  window.windowY = keepWidth<std::int32_t>(readNumber(readProfileString(state.iniFilePath, "SCREEN", "PosY")));
  state.language.languageFilePath = readProfileString(state.iniFilePath, "TRANSLATE", "FILENAME");
  // 6.
  loadStartupConfiguration(state.config, state.configFilePath, state.iniFilePath);

  // The serial port with its poll and keystroke output, and the menu's windows.
  // The termios library finds the devices in [PORTS] of KELVOR.INI, whose path is fixed now.
  TermiosSerialLibrary serialLibrary(state.iniFilePath, notices);
  ReceptionWiring reception(state, window, serialLibrary, notices);
  connectMenuWindows(state, window, serialLibrary, notices);
  // The reading log and MQTT publishing, as KELVOR.INI sets them.
  OutputsWiring outputs(state, window, notices);
  reception.deliverReadingsTo(&outputs);

  // 7. The splash, on this thread; the main window shows only once it has closed.
  runSplash(state.splashSeconds, state.config.SOUNDENABLE);

  // 8, 9. Shown 26 units high, at the remembered place (0,0 when none).
  const int x = window.windowX;
  const int y = window.windowY;
  // Placed before it is mapped too, so that the window manager takes the position as the
  // user's rather than choosing one of its own; placed again once the window manager has
  // framed it, since the position is the frame's corner and the frame is known only then.
  window.move(x, y);
  window.show();
  waitUntilFramed(window);
  window.setWaitBandShown(false);
  window.move(x, y);
  // 10.
  window.refreshStatusIcons();
  // Without an X server the strip lives on the Wayland compositor, which keeps window
  // placement and stacking to itself: said once, so that the user is not puzzled.
  if (QGuiApplication::platformName() == QLatin1String("wayland"))
    notices.mention({NoticeKind::Warning, "Kelvor", kWaylandLimitsText, NoticeKind::Information});
  // 11. No language file known yet: propose english.lan in the working directory. A
  // cancelled dialog keeps that proposal in use and writes nothing.
  if (trimRight(state.language.languageFilePath).empty()) {
    state.language.languageFilePath = currentDirectory() + "/english.lan";
    selectLanguageFile(state.language, state.iniFilePath);
  }
  // 12.
  window.rebuildMainTexts();

  // 13. The DDE server, when ENABLESERVERDDE is 1. Its timer duties run every tick, around
  // the poll, whether or not it serves.
  DdeRuntime dde(state, window, serialLibrary, notices);
  window.hooks.beforePoll = [&dde] { dde.beforePoll(); };
  window.hooks.afterPoll = [&dde] { dde.afterPoll(); };
  dde.start();

  // 14 to 18.
  window.showTexts();
  state.reception.portWindowHandle = kMainWindowHandle;
  window.startTimer20ms();
  state.splashSeconds = 0;
  state.zOrderMode = 1;
  state.reception.waitState = 0;
  window.focusKeyCatcher();

  // 19. The event loop, until the main window is closed.
  QEventLoop loop;
  QObject::connect(&window, &MainWindow::closed, &loop, &QEventLoop::quit);
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
  loop.exec();

  // Shutdown: the port before the DDE server; nothing is saved.
  if (state.reception.isRunning == 1 && window.hooks.closePort) window.hooks.closePort();
  window.hooks.beforePoll = nullptr;
  window.hooks.poll = nullptr;
  window.hooks.afterPoll = nullptr;
  dde.close();

  return 0;
}

}  // namespace kelvor
