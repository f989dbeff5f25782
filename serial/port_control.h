#pragma once
// Opening and closing the port from the settings, and the library instance that drives it.
//
// openPort and closePort return nothing: a failure is shown to the user at once and the
// caller treats the port as open until it calls closePort. Keeping the calls paired is the
// callers' task.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "i18n/translate.h"
#include "serial/reception.h"
#include "serial/serial_library.h"

namespace kelvor {

// Everything opening and closing reads or writes.
struct PortContext {
  const Configuration& config;          // PORT, AUTO, line settings, flow control
  Language& language;                   // for the configERROR text (section PORT)
  Reception& reception;                 // portStatus
  const std::uint16_t& portWindowHandle;
  SerialLibrary& library;
};

void openPort(PortContext& port);
void closePort(PortContext& port);

// What opening and closing show the user: the notice "Open port RS232" / "Close Port
// RS232" while AUTO is 1, and the configERROR box when the line settings are refused. The
// program uses the real windows; tests install a recorder.
class PortDialogs {
 public:
  virtual ~PortDialogs() = default;
  virtual void showNotice(std::string_view text) = 0;  // shown and painted at once
  virtual void closeNotice() = 0;
  virtual void showConfigError(const std::string& text) = 0;  // returns when dismissed
};

PortDialogs& portDialogs();
void setPortDialogs(std::unique_ptr<PortDialogs> dialogs);  // nullptr: the real windows

// The library the program uses (termios in the real program; tests install a fake).
SerialLibrary& serialLibrary();
void setSerialLibrary(std::unique_ptr<SerialLibrary> library);

}  // namespace kelvor
