// The view and test windows on a real pseudo-terminal through the termios serial library:
// the test plays the instrument on the master side, the windows open the slave by its COM
// number from KELVOR.INI [PORTS], exactly as the program does.
#include <fcntl.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "linux/qt/test_window.h"
#include "linux/qt/view_window.h"
#include "core/desk/kelvor_state.h"
#include "core/settings/profile_file.h"
#include "linux/serial_port.h"
#include "tests/core/recording_notices.h"

namespace kelvor {
namespace {

class PtyRun : public ::testing::Test {
 protected:
  PtyRun() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    ini = dir.filePath("KELVOR.INI").toStdString();
    writeProfileString(ini, "PORTS", "COM3", ptsname(master));
    library = std::make_unique<TermiosSerialLibrary>(ini, notices);
    state.config.PORT = 2;  // COM3
    state.config.BAUDRATE = 9600;
    state.config.DATABITS = 8;
    state.config.STOPBITS = 1;
  }
  ~PtyRun() override {
    if (master >= 0) ::close(master);
  }

  void send(const std::string& bytes) {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Polls until `done` holds; the pseudo-terminal hands bytes over asynchronously, so a
  // poll right after the write may still find nothing. Gives up after two seconds.
  template <typename Window, typename Done>
  bool pollUntil(Window& window, Done done) {
    for (int tries = 0; tries < 400; ++tries) {
      window.poll();
      if (done()) return true;
      usleep(5000);
    }
    return false;
  }

  QTemporaryDir dir;
  int master = -1;
  std::string ini;
  RecordingNotices notices;
  std::unique_ptr<TermiosSerialLibrary> library;
  KelvorState state;
  PortContext port() { return state.portContext(*library, notices); }
  std::string firstMessage() const { return notices.texts().empty() ? "" : notices.texts().front(); }
};

TEST_F(PtyRun, ViewWindowListsTheBytesOfEachReadFromPositionOne) {
  ViewWindow window(port());
  window.openWindow();
  ASSERT_EQ(state.reception.portStatus, 0) << firstMessage();

  QAbstractItemModel* model = window.table()->model();
  const auto cell = [model](int row, int column) { return model->data(model->index(row, column)).toString(); };
  send("AB\r");
  ASSERT_TRUE(pollUntil(window, [&] { return model->rowCount() >= 3; }));
  EXPECT_EQ(cell(0, 0) + cell(0, 1) + cell(0, 2), "1A65");
  EXPECT_EQ(cell(1, 0) + cell(1, 1) + cell(1, 2), "2B66");
  EXPECT_EQ(cell(2, 0) + cell(2, 1) + cell(2, 2), "3CR13");

  send(std::string("x\0y", 3));
  ASSERT_TRUE(pollUntil(window, [&] { return model->rowCount() >= 6; }));
  EXPECT_EQ(cell(3, 0) + cell(3, 1), "1x");
  EXPECT_EQ(cell(4, 1) + cell(4, 2), "NUL0");
  EXPECT_EQ(cell(5, 0) + cell(5, 1) + cell(5, 2), "3y121");
  window.reject();
}

TEST_F(PtyRun, TestWindowCutsTwoFramesOfOneReadOnTwoPolls) {
  state.config.SELECTENDOF = 1;
  state.config.ENDOFCHAR = 1;
  TestWindow window(port());
  window.openWindow();
  ASSERT_EQ(state.reception.portStatus, 0) << firstMessage();

  send("12.5\r7.1\r");
  ASSERT_TRUE(pollUntil(window, [&] { return !window.resultField()->text().isEmpty(); }));
  EXPECT_EQ(window.resultField()->text(), "12.5");
  window.poll();
  EXPECT_EQ(window.resultField()->text(), "7.1");
  window.reject();
}

TEST_F(PtyRun, ADeviceThatGoesAwayWhileTheWindowIsOpenIsSaidOnce) {
  ViewWindow window(port());
  window.openWindow();
  ASSERT_EQ(state.reception.portStatus, 0) << firstMessage();
  ::close(master);
  master = -1;
  for (int i = 0; i < 5; ++i) window.poll();
  ASSERT_EQ(notices.entries.size(), 1u);
  EXPECT_NE(notices.entries[0].find("tell Kelvor - serial port: COM3 ("), std::string::npos) << notices.entries[0];
  EXPECT_NE(notices.entries[0].find("stopped answering"), std::string::npos);
  window.reject();
}

TEST_F(PtyRun, ThePortIsFreeAgainOnceTheWindowHasClosed) {
  {
    ViewWindow window(port());
    window.openWindow();
    ASSERT_EQ(state.reception.portStatus, 0);
    window.reject();
  }
  // Another program (here a second library instance) can now open the device.
  TermiosSerialLibrary other(ini, notices);
  EXPECT_EQ(other.SetPortEx(2, 0, 1000, 1000, 0, 0, 0), 0);
  other.ResetPort(2, 0);
}

}  // namespace
}  // namespace kelvor
