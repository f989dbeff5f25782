#include "app/subsystem_wiring.h"

#include <QMessageBox>

#include "config/configuration_window.h"
#include "diagnostics/test_window.h"
#include "diagnostics/view_window.h"
#include "platform/termios_serial.h"
#include "platform/xtest_keyboard.h"
#include "serial/port_control.h"
#include "toolkit/about_window.h"
#include "toolkit/sound.h"

namespace kelvor {
namespace {

// What keystroke output needs from the strip: its key-catcher, its key-output icon, the
// key sound, and a word to the user that does not hold up the tick.
class StripKeystrokeHost : public KeystrokeHost {
 public:
  explicit StripKeystrokeHost(MainWindow& window) : window_(window) {}
  void focusKeyCatcher() override { window_.focusKeyCatcher(); }
  void setSendKeyIcon(std::string_view icon) override {
    window_.setSendKeyIcon(icon);
    window_.repaint();
  }
  void playKeySound(std::string_view file, std::uint8_t soundEnable) override { playSoundIfEnabled(file, soundEnable); }
  void tellUser(std::string_view text) override {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Kelvor"),
                                QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                                QMessageBox::Ok, &window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  }

 private:
  MainWindow& window_;
};

}  // namespace

ReceptionWiring::ReceptionWiring(KelvorState& state, MainWindow& window)
    : keyboard_(openXTestKeyboard()),
      keystrokeHost_(std::make_unique<StripKeystrokeHost>(window)),
      keystrokeOutput_(std::make_unique<KeystrokeOutput>(*keyboard_, *keystrokeHost_)) {
  setSerialLibrary(std::make_unique<TermiosSerialLibrary>(state.iniFilePath));
  auto portContext = [&state] {
    return PortContext{state.config, state.language, state.reception, state.portWindowHandle, serialLibrary()};
  };
  window.hooks.openPort = [portContext] {
    PortContext port = portContext();
    openPort(port);
  };
  window.hooks.closePort = [portContext] {
    PortContext port = portContext();
    closePort(port);
  };

  pollHooks_.showLamps = [&window](bool green, bool red) {
    window.setLamp(MainWindow::Lamp::Green, green);
    window.setLamp(MainWindow::Lamp::Red, red);
    window.repaint();
  };
  // Keystroke output (ENABLESENDKEY): each delivered frame typed through the X11 keyboard
  // into the focused window of another program.
  pollHooks_.typeFrame = [&state, output = keystrokeOutput_.get()](const Text<2550>& currentFrame) {
    output->deliver(currentFrame, state.config);
  };
  window.hooks.poll = [&state, &window, hooks = &pollHooks_] {
    if (state.reception.isRunning != 1) return;
    poll(state.config, state.reception, serialLibrary(), *hooks);
    window.showTexts();
  };
}

ReceptionWiring::~ReceptionWiring() = default;

void connectMenuWindows(KelvorState& state, MainWindow& window) {
  // The about box is not modal and is owned by the strip, so it closes with the program.
  window.hooks.openAbout = [&state, &window] {
    openAboutWindow(&window, state.splashSeconds, state.config.SOUNDENABLE);
  };
  // The configuration window is modal; the strip refreshes its status icons after it.
  window.hooks.openConfiguration = [&state, &window] {
    openConfigurationWindow(state.config, state.language, state.iniFilePath, &window);
  };
  // The diagnostics windows are modal and each opens the port itself.
  window.hooks.openView = [&state, &window] { openViewWindow(state, &window); };
  window.hooks.openTest = [&state, &window] { openTestWindow(state, &window); };
}

}  // namespace kelvor
