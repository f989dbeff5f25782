#include "linux/qt/test_window.h"

#include <QLineEdit>

#include "linux/qt/lamp.h"
#include "linux/qt/layout.h"
#include "core/diagnostics/view_log.h"
#include "core/i18n/translate.h"
#include "core/line/port_control.h"

namespace kelvor {

TestWindow::TestWindow(PortContext port, QWidget* parent) : DiagnosticWindow(port, parent) {
  setObjectName("TestWindow");
  setWindowTitle("Testing");
  setFixedSize(198 * kUnit, 84 * kUnit);

  addPicture(this, ":/diagnostics/test.jpg", unitRect(4, 4, 190, 46));
  addPanel(this, unitRect(2, 2, 194, 50));
  addPanel(this, unitRect(2, 54, 194, 28));
  result_ = new QLineEdit(this);
  result_->setObjectName("currentFrame");
  // The program never reads the field back; read-only keeps that from surprising anyone,
  // and the text can still be selected and copied.
  result_->setReadOnly(true);
  result_->setGeometry(unitRect(6, 58, 180, 20));
  QFont larger = result_->font();
  larger.setPointSizeF(larger.pointSizeF() * 1.4);
  result_->setFont(larger);
  green_->setGeometry(unitRect(188, 58, 5, 5));
  green_->raise();
  red_->setGeometry(unitRect(188, 64, 5, 5));
  red_->raise();
}

TestWindow::~TestWindow() = default;

void TestWindow::setTexts() {
  port_.language().languageSection = "test";
  setWindowTitle(QString::fromStdString(translate(port_.language(), "screen")));
}

void TestWindow::clearForOpening() {
  clearForTest(port_.reception());
  showResult();
}

bool TestWindow::readOnce() {
  const TestPollResult result = pollForTest(port_.config(), port_.reception(), port_.library());
  if (result.frameCut) showResult();
  return result.received;
}

void TestWindow::showResult() {
  result_->setText(QString::fromStdString(displayFrameText(port_.reception().currentFrame.trimmed())));
  result_->setCursorPosition(0);
}

void openTestWindow(PortContext port, QWidget* parent) {
  port.language.languageSection = "test";
  if (!mayOpenDiagnostics(port.reception, port.notices, translate(port.language, "screen"))) return;
  TestWindow window(port, parent);
  window.run();
}

}  // namespace kelvor
