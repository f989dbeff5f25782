#include "core/diagnostics/diagnostic_port.h"

namespace kelvor {

void DiagnosticPort::open(std::uint16_t windowHandle) {
  if (open_) return;
  ownerHandle_ = context_.reception.portWindowHandle;
  context_.reception.portWindowHandle = windowHandle;
  openPort(context_);
  // A failed opening is still closed later, as every other caller of openPort does.
  open_ = true;
}

void DiagnosticPort::close() {
  if (!open_) return;
  open_ = false;
  closePort(context_);
  context_.reception.portWindowHandle = ownerHandle_;
}

std::string diagnosticsRefusal(const Reception& reception) {
  if (reception.isRunning != 1) return {};
  return "Reception is running and holds the serial port.\n"
         "Stop reception first, then open this window again.";
}

bool mayOpenDiagnostics(const Reception& reception, Notices& notices, const std::string& caption) {
  const std::string refusal = diagnosticsRefusal(reception);
  if (refusal.empty()) return true;
  notices.tell({NoticeKind::Information, caption, refusal});
  return false;
}

}  // namespace kelvor
