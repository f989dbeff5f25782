#include "core/diagnostics/diagnostic_port.h"

#include "core/diagnostics/view_log.h"
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

std::string frameEndHint(const Configuration& config, const Reception& reception) {
  const std::string& held = reception.frameBuffer.str();
  if (held.empty()) return {};
  const std::string count = std::to_string(held.size()) + (held.size() == 1 ? " byte" : " bytes");
  if (config.SELECTENDOF == 2 && config.NUMBEROFBYTE > 0) {
    return count + " of a frame of " + std::to_string(config.NUMBEROFBYTE) +
           " bytes received so far (\"Number of byte\" in the configuration).";
  }
  std::string expected;
  if (config.SELECTENDOF == 1 && config.ENDOFCHAR == 1) expected = "CR";
  if (config.SELECTENDOF == 1 && config.ENDOFCHAR == 2) expected = "CR LF";
  if (config.SELECTENDOF == 3 && !config.ENDOFSTRING.trimmed().empty())
    expected = "the end string \"" + displayFrameText(config.ENDOFSTRING.trimmed()) + "\"";
  if (expected.empty()) return count + " received, but the configuration cuts no frames: choose one under \"Select end of record\".";
  std::string hint = "No frame end seen yet in " + count + ": the configuration expects " + expected + ".";
  // CR LF expected, CR alone arriving: the commonest mismatch, and one the user can fix in a click.
  const auto cr = held.find('\r');
  if (expected == "CR LF" && cr != std::string::npos && cr + 1 < held.size())
    hint += " The instrument ends its readings with CR alone: choose CR under \"End of char\".";
  return hint;
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
