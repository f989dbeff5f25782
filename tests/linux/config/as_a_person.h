#pragma once
// Driving the configuration window as a person does, for the tests and the steps program.

#include <QAbstractButton>
#include <QLineEdit>
#include <QString>
#include <QTest>

namespace kelvor {

// On the box or dot at the left, where a person aims.
inline void clickAsAPerson(QWidget* button) {
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(7, button->height() / 2));
}

// Clicks into the entry, selects all, erases it and types `text` key by key.
inline void typeAsAPerson(QLineEdit* entry, const QString& text) {
  QTest::mouseClick(entry, Qt::LeftButton, {}, QPoint(4, entry->height() / 2));
  QTest::keyClick(entry, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(entry, Qt::Key_Backspace);
  for (const QChar ch : text) {
    if (ch.unicode() < 0x80) {
      QTest::keyClick(entry, ch.toLatin1());
    } else {
      // Beyond ASCII a key arrives as its text, as a keyboard layout or input method sends it.
      QTest::sendKeyEvent(QTest::Click, entry, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
  }
}

}  // namespace kelvor
