// The message window and the wait helpers, driven offscreen with real events.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <vector>

#include "linux/qt/message_window.h"
#include "core/toolkit/modal_gate.h"
#include "tests/core/toolkit/recording_sound_output.h"
#include "core/toolkit/sound.h"

namespace kelvor {
namespace {

class MessageWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { setSoundOutput(std::make_unique<RecordingSoundOutput>(played_)); }
  void TearDown() override { setSoundOutput(nullptr); }

  // Runs `check` on the open message window, from inside its modal loop.
  void whenOpen(std::function<void(QDialog&)> check) {
    QTimer::singleShot(50, [check] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog != nullptr && dialog->isVisible() && dialog->windowTitle() == "!") {
          check(*dialog);
          return;
        }
      }
      ADD_FAILURE() << "no message window open";
    });
  }
  std::vector<std::string> played_;
};

TEST_F(MessageWindowTest, ShowsTheLinesHoldsTheGateAndClicksOnOk) {
  bool gateWasHeld = false;
  QString shown;
  whenOpen([&](QDialog& dialog) {
    gateWasHeld = !modalGate().isOpen();
    for (QLabel* label : dialog.findChildren<QLabel*>()) shown += label->text() + "|";
    // The focus rests on the invisible holder, not on OK.
    QWidget* focus = QApplication::focusWidget();
    EXPECT_TRUE(focus != nullptr && focus->geometry().y() >= 148);
    QPushButton* ok = nullptr;
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
      if (b->accessibleName() == "OK") ok = b;
    }
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  showMessage("      Weighing done", 1, "sound\\touch.wav");
  EXPECT_TRUE(gateWasHeld);
  EXPECT_TRUE(modalGate().isOpen());
  EXPECT_TRUE(shown.contains("   Weighing done|"));
  ASSERT_EQ(played_.size(), 2u);
  EXPECT_TRUE(played_[0].ends_with("/sound/info.wav"));
  EXPECT_TRUE(played_[1].ends_with("/sound/touch.wav"));
  EXPECT_EQ(soundName().str(), "sound\\info.wav");
}

TEST_F(MessageWindowTest, IsSilentWithSoundsOffAndWhenClosedOtherwise) {
  whenOpen([](QDialog& dialog) { dialog.reject(); });
  showMessage("quiet", 1, "sound\\touch.wav");
  EXPECT_EQ(played_.size(), 1u);  // the opening sound only: no click without OK
  played_.clear();
  whenOpen([](QDialog& dialog) { dialog.reject(); });
  showMessage("quiet", 0, "sound\\touch.wav");
  EXPECT_TRUE(played_.empty());
}

TEST(WaitSeconds, EndsAtOnceForZeroOrLessAndEarlyOnAKey) {
  QWidget target;
  target.show();
  target.activateWindow();
  QElapsedTimer clock;
  clock.start();
  waitSeconds(0);
  waitSeconds(-5);
  EXPECT_LT(clock.elapsed(), 1000);

  QTimer::singleShot(100, [&] { QTest::keyClick(&target, Qt::Key_A); });
  clock.restart();
  waitSeconds(30);
  EXPECT_LT(clock.elapsed(), 20000);  // a key ended it long before the 30 seconds
  EXPECT_TRUE(modalGate().isOpen());
}

TEST(WaitSeconds, AKeyPressedBeforeTheCallDoesNotShortenIt) {
  QWidget target;
  target.show();
  QCoreApplication::postEvent(&target, new QKeyEvent(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "b"));
  QElapsedTimer clock;
  clock.start();
  waitSeconds(0.3);
  EXPECT_GE(clock.elapsed(), 290);
}

}  // namespace
}  // namespace kelvor
