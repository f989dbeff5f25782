#pragma once
// Connects the strip's hooks to the subsystems that do the work: the serial port and its
// poll (with keystroke output for each delivered frame), and the windows of the menu.
// Start-up builds these once; they live until shutdown.

#include <memory>

#include "app/kelvor_state.h"
#include "app/main_window.h"
#include "serial/keyboard_choice.h"
#include "serial/keystroke_output.h"
#include "serial/port_watch.h"
#include "serial/receive_pipeline.h"
#include "serial/serial_library.h"
#include "toolkit/notices.h"

namespace kelvor {

// The port, the tick's poll and keystroke output, on the program's serial library; what
// goes wrong is told through `notices`. The port's watch brings a device that went away
// during a run back by itself.
class ReceptionWiring {
 public:
  ReceptionWiring(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices);
  ~ReceptionWiring();
  ReceptionWiring(const ReceptionWiring&) = delete;
  ReceptionWiring& operator=(const ReceptionWiring&) = delete;

  // Where every delivered reading also goes (the reading log and MQTT).
  void deliverReadingsTo(ReadingOutput* outputs) { pollHooks_.outputs = outputs; }

 private:
  std::unique_ptr<ChosenKeyboard> keyboard_;
  std::unique_ptr<KeystrokeHost> keystrokeHost_;
  std::unique_ptr<KeystrokeOutput> keystrokeOutput_;
  std::unique_ptr<DeviceWatch> deviceWatch_;
  std::unique_ptr<PortWatch> portWatch_;
  MainWindow& window_;
  PollHooks pollHooks_;
};

// Menu items 2 to 6: the about box, the configuration and device windows and the two
// diagnostics windows.
void connectMenuWindows(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices);

}  // namespace kelvor
