#include "linux/qt/startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>
#include <QWindow>
#include <iostream>

#include <QPointer>
#include <QSysInfo>

#include "core/desk/desk.h"
#include "core/i18n/language_file_dialog.h"
#include "core/i18n/shipped_languages.h"
#include "core/settings/profile_file.h"
#include "core/system/system.h"
#include "core/toolkit/sound.h"
#include "linux/dde_transport.h"
#include "linux/device_watch.h"
#include "linux/qt/about_window.h"
#include "linux/qt/command_line.h"
#include "linux/qt/configuration_window.h"
#include "linux/qt/desk_presence.h"
#include "linux/qt/device_window.h"
#include "linux/qt/exec_modal.h"
#include "linux/qt/layout.h"
#include "linux/qt/main_window.h"
#include "linux/qt/notices.h"
#include "linux/qt/outputs_window.h"
#include "linux/qt/strip_hosts.h"
#include "linux/qt/tick_timer.h"
#include "linux/qt/test_window.h"
#include "linux/qt/view_window.h"
#include "linux/serial_port.h"
#include "linux/session_keyboard.h"
#include "mqtt/mosquitto_publisher.h"

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

// Menu items 2 to 7: the about box, the configuration and device windows, the two
// diagnostics windows and the outputs window.
void connectMenuWindows(Desk& desk, MainWindow& window) {
  KelvorState& state = desk.state();
  // The about box is not modal and is owned by the strip, so it closes with the program.
  window.hooks.openAbout = [&state, &window] {
    openAboutWindow(&window, state.splashSeconds, state.config.SOUNDENABLE);
  };
  // The configuration window is modal; the strip refreshes its status icons after it. A
  // DDE server just switched on starts at once.
  window.hooks.openConfiguration = [&desk, &state, &window] {
    openConfigurationWindow(state.config, state.language, state.iniFilePath, &window);
    desk.startDde();
  };
  window.hooks.ddeServing = [&desk] { return desk.ddeServing(); };
  window.hooks.ddeStatus = [&desk] { return desk.ddeStatus(); };
  // The device window is modal; it maps COM numbers to devices in KELVOR.INI.
  window.hooks.openDevices = [&state, &window] { openDeviceWindow(state.language, state.iniFilePath, &window); };
  // The diagnostics windows are modal and each opens the port itself.
  window.hooks.openView = [&desk, &window] { openViewWindow(desk.portContext(), &window); };
  window.hooks.openTest = [&desk, &window] { openTestWindow(desk.portContext(), &window); };
  // The outputs window is not modal, so reception and the DDE server go on while the user
  // types; a second call brings the open one forward.
  window.hooks.openOutputs = [&desk, &window, open = QPointer<OutputsWindow>()]() mutable {
    if (open) {
      open->raise();
      open->activateWindow();
      return;
    }
    const OutputDefaults defaults{desk.defaultClientId(), desk.defaultTopic()};
    auto* outputs = new OutputsWindow(desk.outputSettings(), desk.state().language, defaults, &window);
    outputs->setAttribute(Qt::WA_DeleteOnClose);
    outputs->onSave = [&desk](const OutputSettings& settings) { desk.saveOutputSettings(settings); };
    outputs->showState([&desk] { return desk.publishingState(); });
    open = outputs;
    outputs->show();
    placeClearOfStrip(*outputs);
  };
}

}  // namespace

int runMainWindowProcedure(QApplication& app, const StartOptions& options) {
  // A second start in this folder shows the running program's strip instead.
  DeskPresence presence;
  if (!presence.claim(currentDirectory())) {
    std::cerr << "kelvor: Kelvor already runs in " << currentDirectory()
              << "; its strip was brought to the front." << std::endl;
    return 0;
  }
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
  deferGateToEventLoop();

  // 2 to 4, 6: the desk's records. KELVOR.INI's path is fixed once: a file dialog that later
  // moves the working directory changes nothing here.
  Desk desk(currentDirectory() + "/KELVOR.INI");
  KelvorState& state = desk.state();
  // 1. The main window, bound to the values it shows, not yet shown.
  MainWindow window(state, notices);
  notices.setOwner(&window);
  presence.onRaise = [&window] {
    window.showNormal();
    window.raise();
    window.activateWindow();
  };
  // 5.
  window.windowX = keepWidth<std::int32_t>(readNumber(readProfileString(state.iniFilePath, "SCREEN", "PosX")));
  window.windowY = keepWidth<std::int32_t>(readNumber(readProfileString(state.iniFilePath, "SCREEN", "PosY")));
  // Placed at once: a notice that comes before the strip shows (a broker refusing the
  // password) opens clear of where the strip will be.
  window.move(window.windowX, window.windowY);

  // The desk on the Linux adapters: the termios library finds the devices in [PORTS] of
  // KELVOR.INI, whose path is fixed now.
  TermiosSerialLibrary serialLibrary(state.iniFilePath, notices);
  InotifyDeviceWatch deviceWatch;
  const std::unique_ptr<ChosenKeyboard> keyboard = openSessionKeyboard(state.iniFilePath);
  DBusDdeTransport transport;
  QtUiThread ui;
  StripKeystrokeHost keystrokeHost(window);
  StripCommandHost commandHost(state, window);
  commandHost.closePortWith = [&desk] { desk.closePort(); };
  QtTickTimer tickTimer([&window] { window.tick(); }, [&desk] { return desk.nextTick(); });
  window.hooks.wakeTick = [&tickTimer] { tickTimer.wake(); };
  desk.connect({serialLibrary, deviceWatch, *keyboard, &transport,
                [](Notices& queued) { return std::make_unique<MosquittoPublisher>(queued); }, notices, ui,
                QSysInfo::machineHostName().toStdString(), &tickTimer},
               {window.deskView(), commandHost, keystrokeHost});
  window.setRunControl(desk.runControl());
  connectMenuWindows(desk, window);

  // 7. The splash, on this thread; the main window shows only once it has closed.
  if (desk.splashAtStart() && !options.noSplash) runSplash(state.splashSeconds, state.config.SOUNDENABLE);

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
  // 11. No language file known yet: propose the one of the system's language in the working
  // directory, english.lan when it has none there. A cancelled dialog keeps that proposal in
  // use and writes nothing. A KELVOR.INI that could not be read is no first start: the
  // proposal is used without asking.
  if (trimRight(state.language.languageFilePath).empty()) {
    const std::string folder = currentDirectory();
    state.language.languageFilePath = folder + "/" + firstLanguageFile(systemLanguage(), folder);
    if (!state.settingsUnreadable) selectLanguageFile(window.fileDialogs(), state.language, state.iniFilePath);
  }
  // 12.
  window.rebuildMainTexts();

  // 13. The DDE server, when ENABLESERVERDDE is 1.
  desk.startDde();
  window.refreshStatusIcons();  // the DDE icon says whether it serves

  // 14 to 18.
  window.showTexts();
  window.hooks.tick = [&desk] { desk.tick(); };
  desk.started();
  tickTimer.start();
  window.focusKeyCatcher();

  // 19. The event loop, until the main window is closed.
  QEventLoop loop;
  QObject::connect(&window, &MainWindow::closed, &loop, &QEventLoop::quit);
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
  loop.exec();

  // Shutdown: the port before the DDE server; nothing is saved.
  tickTimer.stop();
  window.hooks.tick = nullptr;
  window.hooks.wakeTick = nullptr;
  window.setRunControl(nullptr);
  desk.shutdown();
  return 0;
}

}  // namespace kelvor
