#include "linux/qt/exec_modal.h"

#include <QDialog>
#include <QTimer>

#include "core/toolkit/modal_gate.h"

namespace kelvor {

void deferGateToEventLoop() {
  modalGate().setDeferral([](std::function<void()> call) { QTimer::singleShot(0, std::move(call)); });
}

int execModal(QDialog& dialog) {
  deferGateToEventLoop();
  ModalGate::Hold hold(modalGate());
  return dialog.exec();
}

}  // namespace kelvor
