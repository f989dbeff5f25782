// The windows opening and closing show: the notice while AUTO is 1 and the configERROR box,
// and the line each error leaves on standard error.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <regex>
#include <sstream>

#include "linux/qt/notices.h"
#include "core/line/port_control.h"
#include "tests/core/line/fake_serial_library.h"
#include "core/toolkit/modal_gate.h"
#include "linux/qt/port_notice.h"

namespace kelvor {
namespace {

TEST(PortNotice, ShowsItsLineCentredAtTheLayoutSize) {
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

TEST(PortDialogs, TheConfigErrorBoxIsAnInformationBoxCaptionedErrorAndLogged) {
  std::ostringstream log;
  QtNotices notices(log);
  Configuration config;
  Language language;
  Reception reception;
  testing::FakeSerialLibrary library;
  library.initPortResult = 1;  // the line settings are refused
  PortContext port{config, language, reception, library, notices};
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
  openPort(port);
  EXPECT_EQ(title, "ERROR");
  EXPECT_EQ(text, "[CONFIGERROR]\nCOM1 refused 0 baud, 0 data bits, no parity, 0 stop bits.");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_TRUE(gateHeld) << "ticks and DDE events must wait while the box is open";
  // One line, stamped, naming the kind and the cause.
  EXPECT_TRUE(std::regex_match(log.str(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )"
                                                     R"(kelvor: error: ERROR: \[CONFIGERROR\] COM1 refused 0 baud, )"
                                                     R"(0 data bits, no parity, 0 stop bits\.\n)")))
      << log.str();
}

TEST(Notices, ALoggedNoticeIsOneLineWhateverItsText) {
  const Notice notice{NoticeKind::Warning, "Kelvor - serial port", "COM1 (/dev/ttyUSB0) stopped answering\n\n  Reconnect it."};
  const std::string line = noticeLine(notice, std::chrono::system_clock::time_point{});
  EXPECT_NE(line.find(" kelvor: warning: Kelvor - serial port: COM1 (/dev/ttyUSB0) stopped answering Reconnect it."),
            std::string::npos)
      << line;
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_FALSE(isLogged(NoticeKind::Information));
}

}  // namespace
}  // namespace kelvor
