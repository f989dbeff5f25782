#pragma once
// A small filled ellipse that the view and test windows light while they poll the port.

#include <QColor>
#include <QWidget>

namespace kelvor {

class Lamp : public QWidget {
  Q_OBJECT

 public:
  Lamp(QColor colour, QWidget* parent);

  void setLit(bool lit);
  bool isLit() const { return lit_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor colour_;
  bool lit_ = false;
};

}  // namespace kelvor
