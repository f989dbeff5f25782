#include "app/subsystem_wiring.h"

#include <QTimer>

#include "config/configuration_window.h"
#include "config/device_window.h"
#include "diagnostics/test_window.h"
#include "diagnostics/view_window.h"
#include "platform/inotify_device_watch.h"
#include "platform/session_keyboard.h"
#include "serial/port_control.h"
#include "toolkit/about_window.h"
#include "toolkit/modal_gate.h"
#include "toolkit/sound.h"

namespace kelvor {
namespace {

// What keystroke output needs from the strip: its key-catcher, its key-output icon, the
// key sound, the tooltip naming the keyboard, and a timer for typing spread over time.
class StripKeystrokeHost : public KeystrokeHost {
 public:
  explicit StripKeystrokeHost(MainWindow& window) : window_(window) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      // Like the tick, typing waits while a modal window of Kelvor's is open: the keystrokes
      // would land in it.
      if (!modalGate().isOpen()) {
        timer_.start(20);
        return;
      }
      auto then = std::move(then_);
      then_ = nullptr;
      if (then) then();
    });
  }
  void focusKeyCatcher() override { window_.focusKeyCatcher(); }
  void setSendKeyIcon(std::string_view icon) override {
    window_.setSendKeyIcon(icon);
    window_.repaint();
  }
  void playKeySound(std::string_view file, std::uint8_t soundEnable) override { playSoundIfEnabled(file, soundEnable); }
  void callAfter(int milliseconds, std::function<void()> then) override {
    then_ = std::move(then);
    timer_.start(milliseconds);
  }
  void showKeyboard(std::string_view name) override {
    window_.setSendKeyToolTip("Keystrokes: " + std::string(name));
  }

 private:
  MainWindow& window_;
  QTimer timer_;
  std::function<void()> then_;
};

}  // namespace

ReceptionWiring::ReceptionWiring(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices)
    : keyboard_(openSessionKeyboard(state.iniFilePath)),
      keystrokeHost_(std::make_unique<StripKeystrokeHost>(window)),
      keystrokeOutput_(std::make_unique<KeystrokeOutput>(*keyboard_, *keystrokeHost_, notices)),
      deviceWatch_(std::make_unique<InotifyDeviceWatch>()),
      portWatch_(std::make_unique<PortWatch>(state.portContext(library, notices), *deviceWatch_, window.runView(),
                                             [] { return std::chrono::steady_clock::now(); })),
      window_(window) {
  // A desktop that asks the user before Kelvor may type asks at start when readings are to
  // be typed, and otherwise only once the first one is.
  if (state.config.ENABLESENDKEY == 1) keyboard_->open();
  // Which keyboard types: in the key-output icon's tooltip, and in the journal.
  keystrokeHost_->showKeyboard(keyboard_->name());
  notices.note({NoticeKind::Information, "keystrokes", keyboard_->name()});
  window.hooks.openPort = [port = state.portContext(library, notices)]() mutable { openPort(port); };
  window.hooks.closePort = [port = state.portContext(library, notices)]() mutable { closePort(port); };
  window.setPortWatch(portWatch_.get());

  pollHooks_.showLamps = [&window](bool green, bool red) {
    window.setLamp(MainWindow::Lamp::Green, green);
    window.setLamp(MainWindow::Lamp::Red, red);
    window.repaint();
  };
  // Keystroke output (ENABLESENDKEY): each delivered frame typed through the session's
  // keyboard into the focused window of another program.
  pollHooks_.keystrokes = keystrokeOutput_.get();
  window.hooks.poll = [&state, &window, &library, hooks = &pollHooks_, watch = portWatch_.get()] {
    if (state.reception.isRunning != 1) return;
    poll(state.config, state.reception, library, *hooks);
    watch->tick();
    window.showTexts();
  };
}

ReceptionWiring::~ReceptionWiring() { window_.setPortWatch(nullptr); }

void connectMenuWindows(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices) {
  // The about box is not modal and is owned by the strip, so it closes with the program.
  window.hooks.openAbout = [&state, &window] {
    openAboutWindow(&window, state.splashSeconds, state.config.SOUNDENABLE);
  };
  // The configuration window is modal; the strip refreshes its status icons after it.
  window.hooks.openConfiguration = [&state, &window] {
    openConfigurationWindow(state.config, state.language, state.iniFilePath, &window);
  };
  // The device window is modal; it maps COM numbers to devices in KELVOR.INI.
  window.hooks.openDevices = [&state, &window] { openDeviceWindow(state.language, state.iniFilePath, &window); };
  // The diagnostics windows are modal and each opens the port itself.
  window.hooks.openView = [&window, port = state.portContext(library, notices)] { openViewWindow(port, &window); };
  window.hooks.openTest = [&window, port = state.portContext(library, notices)] { openTestWindow(port, &window); };
}

}  // namespace kelvor
