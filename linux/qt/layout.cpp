#include "linux/qt/layout.h"

#include "core/toolkit/placement.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace kelvor {

QFrame* addPanel(QWidget* parent, QRect area) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  panel->setGeometry(area);
  panel->lower();
  return panel;
}

QLabel* addPicture(QWidget* parent, const QString& resource, QRect area) {
  auto* picture = new QLabel(parent);
  picture->setPixmap(QPixmap(resource).scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  picture->setGeometry(area);
  return picture;
}

QLabel* addLabel(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->move(x * kUnit, y * kUnit);
  label->adjustSize();
  return label;
}

void placeClearOfStrip(QWidget& window) {
  const QWidget* strip = window.parentWidget();
  if (strip == nullptr || strip->screen() == nullptr) return;
  const QRect s = strip->frameGeometry();
  const QRect screen = strip->screen()->availableGeometry();
  // A window the window manager has not framed yet will get a title bar like the strip's.
  const int titleBar = window.frameGeometry() == window.geometry() ? s.height() - strip->height() : 0;
  const QSize size = window.frameGeometry().size() + QSize(0, titleBar);
  const Box box = placeClearOf({s.x(), s.y(), s.width(), s.height()}, size.width(), size.height(),
                               {screen.x(), screen.y(), screen.width(), screen.height()});
  window.move(box.x, box.y + titleBar);
}

void centreOnScreen(QWidget& window) {
  const QWidget* parent = window.parentWidget();
  const QScreen* screen = parent ? parent->screen() : window.screen();
  if (screen == nullptr) return;
  window.move(screen->availableGeometry().center() - QPoint(window.width() / 2, window.height() / 2));
}

}  // namespace kelvor
