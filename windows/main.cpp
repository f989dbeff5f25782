// Kelvor.exe: bridges a measuring instrument on a serial line and the other programs of the
// Windows desktop. Everything comes from KELVOR.INI in the working folder, the configuration
// file it names and the language file; the options choose that folder and whether the splash
// shows (command_line.h).

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "core/desk/desk.h"
#include "core/i18n/language_file_dialog.h"
#include "core/i18n/shipped_languages.h"
#include "core/settings/file_commands.h"
#include "core/settings/profile_file.h"
#include "core/system/system.h"
#include "core/toolkit/modal_gate.h"
#include "core/toolkit/sound.h"
#include "mqtt/mosquitto_publisher.h"
#include "windows/about_window.h"
#include "windows/command_line.h"
#include "windows/configuration_window.h"
#include "windows/dde_message.h"
#include "windows/text_convert.h"
#include "windows/dde_transport.h"
#include "windows/desk_presence.h"
#include "windows/device_window.h"
#include "windows/file_dialog.h"
#include "windows/device_watch.h"
#include "windows/main_window.h"
#include "windows/notices.h"
#include "windows/outputs_window.h"
#include "windows/pictures.h"
#include "windows/serial_port.h"
#include "windows/session_keyboard.h"
#include "windows/sound_output.h"
#include "windows/strip_hosts.h"
#include "windows/test_window.h"
#include "windows/tick_timer.h"
#include "windows/view_window.h"
#include "windows/window_parts.h"

namespace kelvor {
namespace {

// The device behind a COM number: [PORTS] of KELVOR.INI, else the COM port of that number.
std::string comDeviceOnWindows(const std::string& iniFilePath, int port) {
  const std::string name = "COM" + std::to_string(port + 1);
  const std::string device = trimRight(readProfileString(iniFilePath, "PORTS", name));
  return device.empty() ? name : device;
}

std::string hostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &size) ? fromWide(std::wstring_view(name, size)) : std::string("windows");
}

int runMainWindowProcedure(const StartOptions& options) {
  // A second start in this folder shows the running program's strip instead.
  DeskPresence presence;
  if (!presence.claim(currentDirectory())) return 0;
  Win32Notices notices(currentDirectory() + "\\kelvor.log");
  setProfileFileNotice([&notices](const std::string& text) { notices.mention({NoticeKind::Warning, "Kelvor", text}); });
  Win32UiThread ui;
  modalGate().setDeferral([&ui](std::function<void()> call) { ui.post(std::move(call)); });
  setSoundOutput(makeWin32SoundOutput());

  // The desk's records; KELVOR.INI's path is fixed once.
  Desk desk(currentDirectory() + "\\KELVOR.INI");
  KelvorState& state = desk.state();
  MainWindow window;
  Strip strip(state, window, notices);
  notices.setModalRunner([](const std::function<void()>& show) {
    ModalGate::Hold hold(modalGate());
    show();
  });
  const int x = keepWidth<std::int32_t>(readNumber(readProfileString(state.iniFilePath, "SCREEN", "PosX")));
  const int y = keepWidth<std::int32_t>(readNumber(readProfileString(state.iniFilePath, "SCREEN", "PosY")));

  const std::string iniFilePath = state.iniFilePath;
  Win32SerialLibrary serialLibrary([iniFilePath](int port) { return comDeviceOnWindows(iniFilePath, port); }, notices);
  Win32DeviceWatch deviceWatch;
  const std::unique_ptr<ChosenKeyboard> keyboard = openSessionKeyboard(state.iniFilePath);
  Win32DdeTransport transport;
  transport.setNotices(&notices);
  StripKeystrokeHost keystrokeHost(window);
  StripCommandHost commandHost(state, strip, window);
  commandHost.closePortWith = [&desk] { desk.closePort(); };
  Win32TickTimer tickTimer(
      [&desk, &strip, &window, &state, &transport] {
        // Ticks that come while a modal window or a blocking wait holds the gate are dropped,
        // not replayed: the next one does the work (the desk's link timer goes on meanwhile).
        const bool open = modalGate().isOpen();
        if (open) strip.applyZOrder();
        // Also while a command waits: its icon shows then.
        window.showDdeIcon();
        desk.tick();
        if (!open) return;
        window.setWaitValues(state.reception.waitState, state.wait.elapsed);
        // DDE messages held back while the gate was closed are taken up now.
        transport.resume();
      },
      [&desk] { return desk.nextTick(); });
  // The transport serves its queues in slices; a due tick goes first, and the tick lets it
  // go on (resume) once it has run.
  transport.setHold([&tickTimer] { return !modalGate().isOpen() || tickTimer.due(); });
  strip.wakeTick = [&tickTimer] { tickTimer.wake(); };
  modalGate().setClosed([&tickTimer] { tickTimer.gateChanged(); });
  desk.connect({serialLibrary, deviceWatch, *keyboard, &transport,
                [](Notices& queued) { return std::make_unique<MosquittoPublisher>(queued); }, notices, ui, hostName(),
                &tickTimer},
               {strip, commandHost, keystrokeHost});
  strip.setRunControl(desk.runControl());

  // The splash; the strip shows only once it has closed.
  if (desk.splashAtStart() && !options.noSplash) runSplash(state.splashSeconds, state.config.SOUNDENABLE);

  if (!window.create(x, y)) {
    notices.tell({NoticeKind::Error, "Kelvor", "Windows refused to make Kelvor's window."});
    modalGate().setClosed(nullptr);
    transport.setHold(nullptr);
    return 1;
  }
  notices.setOwner(window.handle());
  presence.onRaise = [&window] {
    ShowWindow(window.handle(), SW_SHOWNORMAL);
    SetForegroundWindow(window.handle());
  };
  setStripWindow(window.handle());
  // The diagnostics windows are modal and each opens the port itself.
  // The about box is not modal: the strip keeps polling and serving while it is open.
  strip.menuWindows.about = [&state] { openAboutWindow(state.splashSeconds, state.config.SOUNDENABLE); };
  // The outputs window is not modal, so reception and the DDE server go on while the user
  // types.
  strip.menuWindows.outputs = [&desk] {
    openOutputsWindow(desk.outputSettings(), desk.state().language, {desk.defaultClientId(), desk.defaultTopic()},
                      {[&desk](const OutputSettings& settings) { desk.saveOutputSettings(settings); },
                       [&desk] { return desk.publishingState(); }});
  };
  // The device window is modal; it maps COM numbers to ports in KELVOR.INI.
  strip.menuWindows.devices = [&state] { openDeviceWindow(state.language, state.iniFilePath); };
  strip.menuWindows.view = [&desk] { openViewWindow(desk.portContext()); };
  strip.menuWindows.test = [&desk] { openTestWindow(desk.portContext()); };
  window.hooks.runButton = [&strip] { strip.runButton(); };
  window.hooks.menuButton = [&strip] { strip.showMenu(); };
  window.hooks.keyCatcher = [&state] { playSoundFile(state.touchSoundPath); };
  window.hooks.moved = [&state](int movedX, int movedY) { saveWindowPosition(state.iniFilePath, movedX, movedY); };
  window.hooks.closing = [&window] { window.close(); };
  // The configuration window is modal; a DDE server just switched on in it starts at once.
  strip.menuWindows.configuration = [&desk, &state, &window, &strip] {
    openConfigurationWindow(window.handle(), state.config, state.language, state.iniFilePath,
                            [&strip] { strip.showTexts(); });
    desk.startDde();
  };
  window.show();
  strip.refreshStatusIcons();
  // No language file known yet: propose the one of the user's language in the working
  // folder, english.lan when it has none there. A cancelled dialog keeps that proposal in
  // use and writes nothing. A KELVOR.INI that could not be read is no first start: the
  // proposal is used without asking.
  if (trimRight(state.language.languageFilePath).empty()) {
    const std::string folder = currentDirectory();
    state.language.languageFilePath = folder + "\\" + firstLanguageFile(systemLanguage(), folder);
    Win32FileDialogs dialogs(window.handle());
    if (!state.settingsUnreadable) selectLanguageFile(dialogs, state.language, state.iniFilePath);
  }
  strip.rebuildMainTexts();

  desk.startDde();
  strip.ddeServing = [&desk] { return desk.ddeServing(); };
  strip.ddeStatus = [&desk] { return desk.ddeStatus(); };
  strip.refreshStatusIcons();  // the DDE icon says whether it serves

  strip.showTexts();
  window.hooks.tick = [&tickTimer] { tickTimer.timerMessage(); };
  desk.started();
  tickTimer.start(window.handle(), MainWindow::kTickTimerId);
  window.focusKeyCatcher();

  tickTimer.runMessageLoop([](MSG& message) { return isDialogMessage(message); });

  modalGate().setClosed(nullptr);
  transport.setHold([] { return !modalGate().isOpen(); });
  window.hooks = {};
  strip.setRunControl(nullptr);
  desk.shutdown();
  setProfileFileNotice(nullptr);
  return 0;
}

}  // namespace
}  // namespace kelvor

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const kelvor::WindowDressing dressing;
  kelvor::StartOptions options;
  if (const std::optional<int> status = kelvor::takeCommandLine(options)) return *status;
  return kelvor::runMainWindowProcedure(options);
}
