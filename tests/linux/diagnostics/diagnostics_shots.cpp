// Takes a picture of the about, view and test windows (the test window also waiting for a
// frame end), window-manager frame included, for
// the documentation: diagnostics_shots LANGUAGE.LAN OUTPUT-DIR. The view and test windows
// show sample readings from a scripted serial library. Run it on a real X display
// (tests/linux/headless.sh) so that the frames show.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <cstdio>

#include "core/desk/kelvor_state.h"
#include "tests/core/recording_notices.h"
#include "linux/qt/test_window.h"
#include "linux/qt/view_window.h"
#include "fake_serial.h"
#include "linux/qt/about_window.h"

namespace {

bool shoot(QWidget& window, const QString& path) {
  if (!QTest::qWaitForWindowExposed(&window)) return false;
  QTest::qWait(400);
  const QRect frame = window.frameGeometry();
  const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  if (!shot.save(path)) return false;
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s LANGUAGE.LAN OUTPUT-DIR\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[2]);
  kelvor::KelvorState state;
  state.language.languageFilePath = argv[1];

  kelvor::AboutWindow about(0);
  about.open(0);
  if (!shoot(about, out + "/about.png")) return 1;
  about.close();

  kelvor::testing::ScriptedSerial serial;
  kelvor::RecordingNotices notices;
  {
    kelvor::ViewWindow view(state.portContext(serial, notices));
    view.openWindow();
    for (const std::string& read : {std::string("AB\r"), std::string("+0012.50 g\r\n"), std::string("7\0" "8\xB0", 3 + 1)}) {
      serial.queue(read);
      view.poll();
    }
    if (!shoot(view, out + "/view.png")) return 1;
    view.reject();
  }
  {
    state.config.SELECTENDOF = 1;
    state.config.ENDOFCHAR = 1;
    state.config.ENABLECONVERTVALUE = 1;
    kelvor::TestWindow test(state.portContext(serial, notices));
    test.openWindow();
    serial.queue("  +012.50 mm\r");
    test.poll();
    if (!shoot(test, out + "/test.png")) return 1;
    test.reject();
  }
  {
    // Framing at CR LF, the instrument ending its readings with CR alone: the line under the
    // empty field says why.
    state.config.ENDOFCHAR = 2;
    kelvor::TestWindow test(state.portContext(serial, notices));
    test.openWindow();
    serial.queue("12.50\r12.51\r");
    test.poll();
    if (!shoot(test, out + "/test-hint.png")) return 1;
    test.reject();
  }
  return 0;
}
