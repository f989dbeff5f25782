#include "linux/qt/test_window.h"

#include <QLabel>
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
  setFixedSize(198 * kUnit, 112 * kUnit);

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
  hint_ = new QLabel(this);
  hint_->setObjectName("frameEndHint");
  hint_->setWordWrap(true);
  hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  hint_->setGeometry(unitRect(4, 85, 190, 25));
}

TestWindow::~TestWindow() = default;

void TestWindow::setTexts() {
  port_.language().languageSection = "test";
  setWindowTitle(QString::fromStdString(translate(port_.language(), "screen")));
}

void TestWindow::clearForOpening() {
  clearForTest(port_.reception());
  frameSeen_ = false;
  showResult();
  showHint();
}

bool TestWindow::readOnce() {
  const TestPollResult result = pollForTest(port_.config(), port_.reception(), port_.library());
  if (result.frameCut) showResult();
  frameSeen_ = frameSeen_ || result.frameCut;
  showHint();
  return result.received;
}

void TestWindow::showHint() {
  const QString hint =
      frameSeen_ ? QString() : QString::fromStdString(frameEndHint(port_.config(), port_.reception()));
  if (hint != hint_->text()) hint_->setText(hint);
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
