#include <QDialog>

#include "toolkit/modal_gate.h"

// Kept apart from the gate itself, which is plain logic that units without windows use.
namespace kelvor {

int execModal(QDialog& dialog) {
  ModalGate::Hold hold(modalGate());
  return dialog.exec();
}

}  // namespace kelvor
