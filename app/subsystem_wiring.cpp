#include "app/subsystem_wiring.h"

#include "config/configuration_window.h"
#include "diagnostics/test_window.h"
#include "diagnostics/view_window.h"
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

 private:
  MainWindow& window_;
};

}  // namespace

ReceptionWiring::ReceptionWiring(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices)
    : keyboard_(openXTestKeyboard()),
      keystrokeHost_(std::make_unique<StripKeystrokeHost>(window)),
      keystrokeOutput_(std::make_unique<KeystrokeOutput>(*keyboard_, *keystrokeHost_, notices)) {
  window.hooks.openPort = [port = state.portContext(library, notices)]() mutable { openPort(port); };
  window.hooks.closePort = [port = state.portContext(library, notices)]() mutable { closePort(port); };

  pollHooks_.showLamps = [&window](bool green, bool red) {
    window.setLamp(MainWindow::Lamp::Green, green);
    window.setLamp(MainWindow::Lamp::Red, red);
    window.repaint();
  };
  // Keystroke output (ENABLESENDKEY): each delivered frame typed through the X11 keyboard
  // into the focused window of another program.
  pollHooks_.keystrokes = keystrokeOutput_.get();
  window.hooks.poll = [&state, &window, &library, hooks = &pollHooks_] {
    if (state.reception.isRunning != 1) return;
    poll(state.config, state.reception, library, *hooks);
    window.showTexts();
  };
}

ReceptionWiring::~ReceptionWiring() = default;

void connectMenuWindows(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices) {
  // The about box is not modal and is owned by the strip, so it closes with the program.
  window.hooks.openAbout = [&state, &window] {
    openAboutWindow(&window, state.splashSeconds, state.config.SOUNDENABLE);
  };
  // The configuration window is modal; the strip refreshes its status icons after it.
  window.hooks.openConfiguration = [&state, &window] {
    openConfigurationWindow(state.config, state.language, state.iniFilePath, &window);
  };
  // The diagnostics windows are modal and each opens the port itself.
  window.hooks.openView = [&window, port = state.portContext(library, notices)] { openViewWindow(port, &window); };
  window.hooks.openTest = [&window, port = state.portContext(library, notices)] { openTestWindow(port, &window); };
}

}  // namespace kelvor
