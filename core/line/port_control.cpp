#include "core/line/port_control.h"

#include <functional>

namespace kelvor {
namespace {

// The two values the library takes after the handle; only the library gives them meaning.
constexpr int kReadTimeout = 1000;
constexpr int kWriteTimeout = 1000;
constexpr int kSettleCount = 5;  // ComDelay count before the buffers are cleared

}  // namespace

namespace {

// openPort's steps 2 to 7; only what the caller shows around them differs.
ReopenResult openSteps(PortContext& port, const std::function<void(std::int16_t)>& onRefused,
                       const std::function<void()>& onLineSettingsRefused) {
  const Configuration& config = port.config;
  SerialLibrary& library = port.library;
  Reception& reception = port.reception;
  reception.portStatus = library.SetPortEx(config.PORT, reception.portWindowHandle, kReadTimeout, kWriteTimeout,
                                           config.USECTS, config.USEXON, config.USEDTR);
  if (reception.portStatus != 0) {
    // The port did not open: nothing to reset.
    onRefused(reception.portStatus);
    return {ReopenResult::Refused, reception.portStatus};
  }
  if (config.AUTO == 0) {
    if (library.InitPort(config.PORT, config.BAUDRATE, config.PARITY, config.DATABITS, config.STOPBITS) != 0) {
      onLineSettingsRefused();
      library.ResetPort(config.PORT, reception.portWindowHandle);
      return {ReopenResult::LineSettingsRefused, 0};
    }
    library.Dtr(config.PORT, 1);
  }
  // Let the line settle, then start reception with empty buffers.
  library.ComDelay(reception.portWindowHandle, kSettleCount);
  library.ClrBuf(config.PORT);
  return {ReopenResult::Opened, 0};
}

}  // namespace

void openPort(PortContext& port) {
  const bool notice = port.config.AUTO == 1;
  if (notice) port.notices.showBusy("Open port RS232");
  const ReopenResult result = openSteps(
      port,
      [&](std::int16_t code) {
        port.library.DisplayPortError(code);
        if (notice) port.notices.closeBusy();
      },
      [&] {
        port.language.languageSection = "PORT";
        // What it reports is an error, but this box has always carried the information icon.
        port.notices.tell({NoticeKind::Error, "ERROR",
                           trimRight(translate(port.language, "configERROR")) + "\n" + refusedLineSettings(port) + ".",
                           NoticeKind::Information});
      });
  if (result.outcome == ReopenResult::Opened && notice) port.notices.closeBusy();
}

std::string refusedLineSettings(const PortContext& port) {
  const Configuration& c = port.config;
  const std::string device = port.library.devicePath(c.PORT);
  const char* parity = c.PARITY == 1 ? "odd" : c.PARITY == 2 ? "even" : c.PARITY == 0 ? "no" : "unknown";
  return "COM" + std::to_string(c.PORT + 1) + (device.empty() ? "" : " (" + device + ")") + " refused " +
         std::to_string(bitsPerSecond(c.BAUDRATE)) + " baud, " + std::to_string(c.DATABITS) + " data bits, " + parity +
         " parity, " + std::to_string(c.STOPBITS) + (c.STOPBITS == 1 ? " stop bit" : " stop bits");
}

LineSettings lineSettingsOf(const Configuration& c) {
  return {c.PORT, c.AUTO, c.BAUDRATE, c.PARITY, c.DATABITS, c.STOPBITS, c.USECTS, c.USEXON};
}

ReopenResult reopenPort(PortContext& port) {
  return openSteps(port, [](std::int16_t) {}, [] {});
}

void closePort(PortContext& port) {
  const Configuration& config = port.config;
  SerialLibrary& library = port.library;
  const bool notice = config.AUTO == 1;
  if (notice) port.notices.showBusy("Close Port RS232");
  library.ClrBuf(config.PORT);
  library.ComDelay(port.reception.portWindowHandle, kSettleCount);
  library.ResetPort(config.PORT, port.reception.portWindowHandle);
  if (notice) port.notices.closeBusy();
}

}  // namespace kelvor
