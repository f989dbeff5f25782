#include "linux/qt/port_notice.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include "core/toolkit/modal_gate.h"

namespace kelvor {
namespace {

constexpr int kUnit = 2;  // device-independent pixels per layout unit

}  // namespace

PortNotice::PortNotice() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(300 * kUnit, 48 * kUnit);

  auto* picture = new QLabel(this);
  picture->setPixmap(QPixmap(QStringLiteral(":/pictures/f_messag.jpg")));
  picture->setScaledContents(true);
  picture->setGeometry(0, 0, 298 * kUnit, 46 * kUnit);

  line_ = new QLabel(this);
  QFont font(QStringLiteral("Arial Rounded MT Bold"));
  font.setBold(true);
  font.setPixelSize(14 * kUnit);
  line_->setFont(font);
  line_->setStyleSheet(QStringLiteral("color: #5a3c10;"));
  line_->setGeometry(4 * kUnit, 8 * kUnit, 290 * kUnit, 30 * kUnit);
}

void PortNotice::showText(const QString& text) {
  line_->setText(text.left(20));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
  show();
  raise();
  // Paint now: the library calls that follow run without events. Let the window system
  // map the window, holding the gate so no tick or DDE event slips in meanwhile.
  ModalGate::Hold hold(modalGate());
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString PortNotice::text() const { return line_->text(); }

}  // namespace kelvor
