#include "core/diagnostics/diagnostic_port.h"

#include "core/line/receive_pipeline.h"

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

std::string readForView(DiagnosticPort& port) {
  ZField<2550>& receiveBuffer = port.reception().receiveBuffer;
  const int count = port.library().ComGetb(port.config().PORT, receiveBuffer);
  if (count <= 0) return {};
  std::string bytes = receiveBuffer.str().substr(0, static_cast<std::size_t>(count));
  bytes.resize(static_cast<std::size_t>(count), '\0');
  return bytes;
}

TestPollResult pollForTest(const Configuration& config, Reception& reception, SerialLibrary& library) {
  TestPollResult result;
  result.received = readPort(config, reception, library);
  // The framing step runs whether or not anything arrived, as in reception.
  result.frameCut = cutAndConvert(config, reception);
  return result;
}

void clearForTest(Reception& reception) {
  reception.clearBuffers();
  reception.currentFrame.clear();
}

std::optional<Notice> lostPortNotice(DiagnosticPort& port) {
  const int number = port.config().PORT;
  if (port.library().health(number) != SerialLibrary::PortHealth::Lost) return std::nullopt;
  const SerialLibrary::PortLoss loss = port.library().loss(number);
  return Notice{NoticeKind::Warning, "Kelvor - serial port",
                "COM" + std::to_string(number + 1) + " (" + loss.device + ") stopped answering (" + loss.cause +
                    "): the device was disconnected or switched off. Close this window and open it again once it "
                    "is back."};
}

}  // namespace kelvor
