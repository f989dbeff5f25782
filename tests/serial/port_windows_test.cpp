// The windows opening and closing show: the notice while AUTO is 1 and the configERROR box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "serial/port_control.h"
#include "serial/port_notice.h"
#include "toolkit/modal_gate.h"

namespace kelvor {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "kelvor_serial_tests";
  static char* argv[] = {name, nullptr};
  static QApplication application(argc, argv);
  return application;
}

TEST(PortNotice, ShowsItsLineCentredAtTheLayoutSize) {
  app();
  PortNotice notice;
  notice.showText(QStringLiteral("Open port RS232"));
  EXPECT_TRUE(notice.isVisible());
  EXPECT_EQ(notice.text(), "Open port RS232");
  EXPECT_EQ(notice.size(), QSize(600, 96));  // 300 x 48 units of 2 pixels
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((notice.geometry().center() - screen.center()).manhattanLength(), 2);
  notice.showText(QStringLiteral("Close Port RS232 and much more"));
  EXPECT_EQ(notice.text(), "Close Port RS232 and");  // one line of up to 20 characters
  EXPECT_TRUE(modalGate().isOpen()) << "the notice left the gate held";
}

TEST(PortDialogs, TheConfigErrorBoxIsAnInformationBoxCaptionedError) {
  app();
  setPortDialogs(nullptr);  // the real windows
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool gateHeld = false;
  QTimer::singleShot(50, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    gateHeld = !modalGate().isOpen();
    box->button(QMessageBox::Ok)->click();
  });
  portDialogs().showConfigError("Check the line settings");
  EXPECT_EQ(title, "ERROR");
  EXPECT_EQ(text, "Check the line settings");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_TRUE(gateHeld) << "ticks and DDE events must wait while the box is open";
}

}  // namespace
}  // namespace kelvor
