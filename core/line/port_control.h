#pragma once
// Opening and closing the port from the settings.
//
// openPort and closePort return nothing: a failure is shown to the user at once and the
// caller treats the port as open until it calls closePort. Keeping the calls paired is the
// callers' task.

#include "core/settings/configuration.h"
#include "core/i18n/translate.h"
#include "core/line/reception.h"
#include "core/line/serial_library.h"
#include "core/toolkit/notices.h"

namespace kelvor {

// Everything opening and closing reads or writes. The program builds one from its records
// and the termios library; tests build one around a fake library and recorded notices.
struct PortContext {
  const Configuration& config;  // PORT, AUTO, line settings, flow control
  Language& language;           // for the configERROR text (section PORT)
  Reception& reception;         // portStatus, portWindowHandle
  SerialLibrary& library;
  Notices& notices;             // "Open port RS232", the configERROR box
};

void openPort(PortContext& port);

// The port and the line settings it was asked for, for a refusal: "COM1 (/dev/ttyS0) refused
// 9600 baud, 8 data bits, no parity, 1 stop bit".
std::string refusedLineSettings(const PortContext& port);

// The line settings a port is opened with; a change of any of them is worth a new try at a
// port that refused them.
struct LineSettings {
  std::int16_t port = 0;
  std::uint8_t automatic = 0;
  std::int16_t baudRate = 0;
  std::int16_t parity = 0;
  std::int16_t dataBits = 0;
  std::int16_t stopBits = 0;
  std::uint8_t cts = 0;
  std::uint8_t xon = 0;
  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};
LineSettings lineSettingsOf(const Configuration& config);
void closePort(PortContext& port);

// How a quiet reopening ended.
struct ReopenResult {
  enum Outcome { Opened, Refused, LineSettingsRefused } outcome = Refused;
  std::int16_t code = 0;  // Refused: the library's error code
};

// openPort's steps for a device that came back during a run: the same settings, no busy
// notice and no box; what went wrong is returned for the caller to tell once. A port whose
// line settings are refused is reset, as openPort does.
ReopenResult reopenPort(PortContext& port);

}  // namespace kelvor
