#include "diagnostics/diagnostic_window.h"

#include <QTimer>

#include "diagnostics/lamp.h"
#include "diagnostics/layout.h"
#include "toolkit/modal_gate.h"

namespace kelvor {

DiagnosticWindow::DiagnosticWindow(PortContext port, QWidget* parent)
    : QDialog(parent),
      port_(port),
      green_(new Lamp(QColor(0, 255, 0), this)),
      red_(new Lamp(QColor(255, 0, 0), this)),
      timer_(new QTimer(this)),
      lampsOff_(new QTimer(this)) {
  // Modal from the moment it shows: it is shown (and takes the port) before its loop runs.
  setModal(true);
  timer_->setInterval(kPollMilliseconds);
  connect(timer_, &QTimer::timeout, this, &DiagnosticWindow::poll);
  lampsOff_->setSingleShot(true);
  lampsOff_->setInterval(120);
  connect(lampsOff_, &QTimer::timeout, this, [this] {
    green_->setLit(false);
    red_->setLit(false);
  });
}

DiagnosticWindow::~DiagnosticWindow() = default;

void DiagnosticWindow::openWindow() {
  centreOnScreen(*this);
  show();
  setTexts();
  green_->setLit(false);
  red_->setLit(false);
  timer_->start();
  port_.open(portHandleOf(*this));
  clearForOpening();
}

void DiagnosticWindow::run() {
  openWindow();
  execModal(*this);
  port_.close();
}

void DiagnosticWindow::done(int result) {
  timer_->stop();
  lampsOff_->stop();
  port_.close();
  QDialog::done(result);
}

void DiagnosticWindow::poll() {
  green_->setLit(true);
  if (readOnce()) red_->setLit(true);
  lampsOff_->start();
}

}  // namespace kelvor
