#pragma once
// Modal dialogs of the Qt face, run with the modal gate held.

class QDialog;

namespace kelvor {

// Lets the gate resume what waited from Qt's event loop (see ModalGate::setDeferral). The
// program does so at start; execModal does it too, for windows shown without the program.
void deferGateToEventLoop();

// Runs a modal dialog with the gate held; returns what exec() returned.
int execModal(QDialog& dialog);

}  // namespace kelvor
