#include "linux/qt/lamp.h"

#include <QPainter>

namespace kelvor {

Lamp::Lamp(QColor colour, QWidget* parent) : QWidget(parent), colour_(colour) {}

void Lamp::setLit(bool lit) {
  if (lit_ == lit) return;
  lit_ = lit;
  update();
}

void Lamp::paintEvent(QPaintEvent*) {
  if (!lit_) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(colour_.darker(160));
  painter.setBrush(colour_);
  painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace kelvor
