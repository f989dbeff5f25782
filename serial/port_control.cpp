#include "serial/port_control.h"

namespace kelvor {
namespace {

// The two values the library takes after the handle; only the library gives them meaning.
constexpr int kReadTimeout = 1000;
constexpr int kWriteTimeout = 1000;
constexpr int kSettleCount = 5;  // ComDelay count before the buffers are cleared

}  // namespace

void openPort(PortContext& port) {
  const Configuration& config = port.config;
  SerialLibrary& library = port.library;
  Reception& reception = port.reception;
  const bool notice = config.AUTO == 1;
  if (notice) port.notices.showBusy("Open port RS232");

  reception.portStatus = library.SetPortEx(config.PORT, reception.portWindowHandle, kReadTimeout, kWriteTimeout,
                                           config.USECTS, config.USEXON, config.USEDTR);
  if (reception.portStatus != 0) {
    // The port did not open: nothing to reset.
    library.DisplayPortError(reception.portStatus);
    if (notice) port.notices.closeBusy();
    return;
  }

  if (config.AUTO == 0) {
    if (library.InitPort(config.PORT, config.BAUDRATE, config.PARITY, config.DATABITS, config.STOPBITS) != 0) {
      port.language.languageSection = "PORT";
      // What it reports is an error, but this box has always carried the information icon.
      port.notices.tell({NoticeKind::Error, "ERROR", trimRight(translate(port.language, "configERROR")),
                         NoticeKind::Information});
      library.ResetPort(config.PORT, reception.portWindowHandle);
      return;
    }
    library.Dtr(config.PORT, 1);
  }

  // Let the line settle, then start reception with empty buffers.
  library.ComDelay(reception.portWindowHandle, kSettleCount);
  library.ClrBuf(config.PORT);
  if (notice) port.notices.closeBusy();
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
