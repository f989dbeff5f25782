#pragma once
// Opening and closing the port from the settings, and the library instance that drives it.
//
// openPort and closePort return nothing: a failure is shown to the user at once and the
// caller treats the port as open until it calls closePort. Keeping the calls paired is the
// callers' task.

#include <cstdint>
#include <memory>

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

// The library the program uses (termios in the real program; tests install a fake).
SerialLibrary& serialLibrary();
void setSerialLibrary(std::unique_ptr<SerialLibrary> library);

}  // namespace kelvor
