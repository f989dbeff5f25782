#pragma once
// The view and test windows are laid out in layout units (2 device-independent pixels),
// control by control, as their definitions give them. These helpers place the shared
// kinds of control.

#include <QRect>
#include <QString>

class QFrame;
class QLabel;
class QWidget;

namespace kelvor {

constexpr int kUnit = 2;

inline QRect unitRect(int x, int y, int width, int height) {
  return QRect(x * kUnit, y * kUnit, width * kUnit, height * kUnit);
}

// A sunken panel around a group of controls.
QFrame* addPanel(QWidget* parent, QRect area);
// A built-in picture scaled to `area`.
QLabel* addPicture(QWidget* parent, const QString& resource, QRect area);
// A label at (x, y) units in its natural size.
QLabel* addLabel(QWidget* parent, const QString& text, int x, int y);

// Centres a window on the screen of its parent (the small strip, often in a corner, would
// otherwise push it against the screen's edge, on top of the strip).
void centreOnScreen(QWidget& window);

// Moves a window the strip owns (its parent) clear of the strip, on the strip's screen. Call
// it once the window has its size.
void placeClearOfStrip(QWidget& window);

}  // namespace kelvor
