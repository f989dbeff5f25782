#include "linux/qt/view_window.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "linux/qt/lamp.h"
#include "core/desk/kelvor_state.h"
#include "fake_serial.h"
#include "modal_helpers.h"
#include "core/line/port_control.h"
#include "tests/core/recording_notices.h"
#include "core/toolkit/modal_gate.h"

namespace kelvor {
namespace {

using testing::closeNextModal;
using testing::ScriptedSerial;

constexpr std::uint16_t kMainHandle = 0x4321;

class ViewWindowTest : public ::testing::Test {
 protected:
  ViewWindowTest() {
    state.reception.portWindowHandle = kMainHandle;
    state.config.PORT = 2;
  }

  QString cell(int row, int column) const {
    auto* model = window.table()->model();
    return model->data(model->index(row, column)).toString();
  }

  KelvorState state;
  ScriptedSerial serial;
  RecordingNotices notices;
  ViewWindow window{state.portContext(serial, notices)};
};

TEST_F(ViewWindowTest, OpensThePortUnderItsOwnHandleAndGivesTheMainHandleBack) {
  window.openWindow();
  const std::uint16_t own = portHandleOf(window);
  ASSERT_EQ(serial.openHandles.size(), 1u);
  EXPECT_EQ(serial.openHandles[0], own);
  EXPECT_EQ(state.reception.portWindowHandle, own);

  window.reject();
  ASSERT_EQ(serial.resetHandles.size(), 1u);
  EXPECT_EQ(serial.resetHandles[0], own);  // closed under the handle that opened it
  EXPECT_EQ(state.reception.portWindowHandle, kMainHandle);

  // Closing twice (the close box, then the destructor) closes the port once.
  window.reject();
  EXPECT_EQ(serial.count("ResetPort"), 1);
}

TEST_F(ViewWindowTest, EachReadBecomesRowsAndRunningText) {
  window.openWindow();
  serial.queue("AB\r");
  window.poll();
  ASSERT_EQ(window.table()->model()->rowCount(), 3);
  const QString expected[3][3] = {{"1", "A", "65"}, {"2", "B", "66"}, {"3", "CR", "13"}};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) EXPECT_EQ(cell(row, column), expected[row][column]);
  }
  EXPECT_TRUE(window.redLamp()->isLit());
  EXPECT_TRUE(window.greenLamp()->isLit());

  serial.queue("7");
  window.poll();
  ASSERT_EQ(window.table()->model()->rowCount(), 4);
  EXPECT_EQ(cell(3, 0), "1");  // the next read starts again at position 1
  EXPECT_EQ(window.textBox()->toPlainText(), "AB\n7");
}

TEST_F(ViewWindowTest, AZeroByteInAReadIsARowOfItsOwn) {
  window.openWindow();
  serial.queue(std::string("1\0" "2", 3));
  window.poll();
  ASSERT_EQ(window.table()->model()->rowCount(), 3);
  EXPECT_EQ(cell(1, 1), "NUL");
  EXPECT_EQ(cell(1, 2), "0");
  EXPECT_EQ(cell(2, 1), "2");
  EXPECT_EQ(cell(2, 2), "50");
}

TEST_F(ViewWindowTest, AReadOfNothingChangesNothing) {
  window.openWindow();
  window.poll();
  EXPECT_EQ(window.table()->model()->rowCount(), 0);
  EXPECT_FALSE(window.redLamp()->isLit());
  EXPECT_EQ(window.log().viewCount(), 0);
}

TEST_F(ViewWindowTest, ClearButtonsEmptyOneSideEach) {
  window.openWindow();
  serial.queue("xyz");
  window.poll();
  window.clearTextButton()->click();
  EXPECT_EQ(window.textBox()->toPlainText(), "");
  EXPECT_EQ(window.table()->model()->rowCount(), 3);

  serial.queue("w");
  window.poll();
  window.clearTableButton()->click();
  EXPECT_EQ(window.table()->model()->rowCount(), 0);
  EXPECT_EQ(window.textBox()->toPlainText(), "w");
}

TEST_F(ViewWindowTest, TableFollowsNewRowsUnlessTheUserScrolledUp) {
  window.openWindow();
  QScrollBar* rows = window.table()->verticalScrollBar();
  serial.queue(std::string(100, 'a'));
  window.poll();
  ASSERT_GT(rows->maximum(), 0);
  EXPECT_EQ(rows->value(), rows->maximum());

  rows->setValue(0);
  serial.queue(std::string(100, 'b'));
  window.poll();
  EXPECT_EQ(rows->value(), 0);
}

TEST_F(ViewWindowTest, TakesItsTextsFromTheViewSection) {
  QTemporaryDir dir;
  const QString path = dir.filePath("test.lan");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[view]\nscreen=x\xC2\xA6Octets re\xC3\xA7us\nreceive=Texte\nconvert=Octets\nclear=Vider\n"
             "clearbufferdata=Vide le texte\n");
  file.close();
  state.language.languageFilePath = path.toStdString();

  window.openWindow();
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8("Octets re\xC3\xA7us"));
  EXPECT_EQ(window.receiveLabel()->text(), "Texte");
  EXPECT_EQ(window.convertLabel()->text(), "Octets");
  EXPECT_EQ(window.clearTextButton()->text(), "Vider");
  EXPECT_EQ(window.clearTextButton()->toolTip(), "Vide le texte");
  EXPECT_EQ(window.clearTableButton()->text(), "Vider");
  EXPECT_EQ(window.clearTableButton()->toolTip(), "[CLEARBUFFERCONVERT]");  // missing key
  EXPECT_EQ(state.language.languageSection, "view");
}

TEST(OpenViewWindow, WhileReceptionRunsRefusesWithAMessageAndLeavesThePortAlone) {
  ScriptedSerial serial;
  RecordingNotices notices;
  KelvorState state;
  state.reception.portWindowHandle = kMainHandle;
  state.reception.isRunning = 1;

  openViewWindow(state.portContext(serial, notices), nullptr);
  ASSERT_EQ(notices.notices.size(), 1u);
  EXPECT_NE(notices.notices[0].text.find("Stop reception first"), std::string::npos);
  EXPECT_EQ(notices.entries.front().rfind("tell ", 0), 0u) << "the refusal waits for the user";
  EXPECT_TRUE(serial.calls.empty());
  EXPECT_EQ(state.reception.portWindowHandle, kMainHandle);
  EXPECT_EQ(state.reception.isRunning, 1);
}

TEST(OpenViewWindow, RunsModallyWithTheGateHeldAndClosesThePortAfterwards) {
  ScriptedSerial serial;
  RecordingNotices notices;
  KelvorState state;
  state.reception.portWindowHandle = kMainHandle;

  bool gateHeld = false;
  closeNextModal([&gateHeld] { gateHeld = !modalGate().isOpen(); });
  openViewWindow(state.portContext(serial, notices), nullptr);
  EXPECT_TRUE(gateHeld);
  EXPECT_EQ(serial.count("SetPortEx"), 1);
  EXPECT_EQ(serial.count("ResetPort"), 1);
  EXPECT_EQ(state.reception.portWindowHandle, kMainHandle);
  EXPECT_TRUE(modalGate().isOpen());
}

}  // namespace
}  // namespace kelvor
