#pragma once
// portNotice: the small window that says "Open port RS232" or "Close Port RS232" while a
// port with AUTO 1 is opened or closed. It has no controls, takes no input and is painted
// at once, since no events run while the library calls that follow it do their work.

#include <QWidget>

class QLabel;

namespace kelvor {

class PortNotice : public QWidget {
 public:
  PortNotice();

  // Shows the notice centred on the screen with `text` (at most 20 characters) and paints
  // it before returning.
  void showText(const QString& text);

  QString text() const;

 private:
  QLabel* line_;
};

}  // namespace kelvor
