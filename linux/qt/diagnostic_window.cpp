#include "linux/qt/diagnostic_window.h"

#include <QTimer>

#include "linux/qt/lamp.h"
#include "linux/qt/layout.h"
#include "core/toolkit/modal_gate.h"
#include "linux/qt/exec_modal.h"

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
  if (lossTold_) return;
  if (const std::optional<Notice> lost = lostPortNotice(port_)) {
    lossTold_ = true;  // before the box: the timer goes on polling while it is open
    port_.notices().tell(*lost);
  }
}

std::uint16_t portHandleOf(QWidget& window) { return static_cast<std::uint16_t>(window.winId() & 0xFFFF); }

}  // namespace kelvor
