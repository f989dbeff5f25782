#include "diagnostics/diagnostic_port.h"

#include <QMessageBox>
#include <QWidget>

#include "serial/port_control.h"
#include "toolkit/modal_gate.h"

namespace kelvor {

void DiagnosticPort::open(std::uint16_t windowHandle) {
  if (open_) return;
  ownerHandle_ = state_.portWindowHandle;
  state_.portWindowHandle = windowHandle;
  PortContext context{state_.config, state_.language, state_.reception, state_.portWindowHandle, library_};
  openPort(context);
  // A failed opening is still closed later, as every other caller of openPort does.
  open_ = true;
}

void DiagnosticPort::close() {
  if (!open_) return;
  open_ = false;
  PortContext context{state_.config, state_.language, state_.reception, state_.portWindowHandle, library_};
  closePort(context);
  state_.portWindowHandle = ownerHandle_;
}

std::uint16_t portHandleOf(QWidget& window) {
  return static_cast<std::uint16_t>(window.winId() & 0xFFFF);
}

std::string diagnosticsRefusal(const KelvorState& state) {
  if (state.reception.isRunning != 1) return {};
  return "Reception is running and holds the serial port.\n"
         "Stop reception first, then open this window again.";
}

bool mayOpenDiagnostics(const KelvorState& state, QWidget* parent, const std::string& caption) {
  const std::string refusal = diagnosticsRefusal(state);
  if (refusal.empty()) return true;
  QMessageBox box(QMessageBox::Information, QString::fromStdString(caption), QString::fromStdString(refusal),
                  QMessageBox::Ok, parent);
  execModal(box);
  return false;
}

}  // namespace kelvor
