#include "linux/qt/about_window.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "core/toolkit/modal_gate.h"
#include "core/toolkit/sound.h"

namespace kelvor {
namespace {

class RecordingSound : public SoundOutput {
 public:
  explicit RecordingSound(std::vector<std::string>& played) : played_(played) {}
  void play(const std::string& path) override { played_.push_back(path); }

 private:
  std::vector<std::string>& played_;
};

class AboutWindowTest : public ::testing::Test {
 protected:
  AboutWindowTest() { setSoundOutput(std::make_unique<RecordingSound>(played)); }
  ~AboutWindowTest() override { setSoundOutput(nullptr); }

  std::vector<std::string> played;
  qint64 now = 5'000'000;  // an arbitrary point on the monotonic clock
  AboutWindow::Clock clock = [this] { return now; };
};

TEST_F(AboutWindowTest, SplashClosesOnlyAfterMoreThanItsDisplayTime) {
  AboutWindow window(10, nullptr, clock);
  window.open(0);
  ASSERT_TRUE(window.isVisible());
  now += 10'000;  // exactly ten seconds: not yet "more than"
  window.checkDisplayTime();
  EXPECT_TRUE(window.isVisible());
  now += 10;
  window.checkDisplayTime();
  EXPECT_FALSE(window.isVisible());
}

TEST_F(AboutWindowTest, DisplayTimeIsCheckedOnAnyEventToo) {
  AboutWindow window(1, nullptr, clock);
  window.open(0);
  now += 1'500;
  QEvent any(QEvent::User);
  QApplication::sendEvent(&window, &any);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(AboutWindowTest, WithoutDisplayTimeItStaysUntilClicked) {
  AboutWindow window(0, nullptr, clock);
  window.open(0);
  now += 24LL * 3600 * 1000;
  window.checkDisplayTime();
  EXPECT_TRUE(window.isVisible());
}

TEST_F(AboutWindowTest, LeftClickDoubleClickAndRightClickCloseIt) {
  struct Case {
    const char* name;
    std::function<void(QWidget*)> act;
    bool closes;
  };
  const QPoint somewhere(300, 200);
  const Case cases[] = {
      {"left click", [&](QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, somewhere); }, true},
      {"right click", [&](QWidget* w) { QTest::mouseClick(w, Qt::RightButton, {}, somewhere); }, true},
      {"double click", [&](QWidget* w) { QTest::mouseDClick(w, Qt::LeftButton, {}, somewhere); }, true},
      {"middle click", [&](QWidget* w) { QTest::mouseClick(w, Qt::MiddleButton, {}, somewhere); }, false},
  };
  for (const Case& c : cases) {
    AboutWindow window(0, nullptr, clock);
    window.open(0);
    c.act(&window);
    EXPECT_EQ(!window.isVisible(), c.closes) << c.name;
  }
}

TEST_F(AboutWindowTest, PlaysTheStartSoundOnlyWhenSoundIsEnabled) {
  {
    AboutWindow window(0, nullptr, clock);
    window.open(0);
  }
  EXPECT_TRUE(played.empty());
  EXPECT_EQ(soundName(), "sound\\start.wav");
  {
    AboutWindow window(0, nullptr, clock);
    window.open(1);
  }
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0], currentDirectory() + "/sound/start.wav");
}

TEST_F(AboutWindowTest, IsCaptionlessAndOfItsLayoutSize) {
  AboutWindow window(0, nullptr, clock);
  window.open(0);
  EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);  // the splash, above all
  EXPECT_EQ(window.size(), QSize(788, 398));
}

TEST(RunSplash, ReturnsWhenClickedWithTheGateHeldMeanwhile) {
  bool gateHeld = false;
  bool sawWindow = false;
  std::function<void()> clickWhenShown;
  clickWhenShown = [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* about = qobject_cast<AboutWindow*>(w); about && about->isVisible()) {
        sawWindow = true;
        gateHeld = !modalGate().isOpen();
        QTest::mouseClick(about, Qt::LeftButton, {}, QPoint(10, 10));
        return;
      }
    }
    QTimer::singleShot(1, clickWhenShown);
  };
  QTimer::singleShot(0, clickWhenShown);
  runSplash(10, 0);
  EXPECT_TRUE(sawWindow);
  EXPECT_TRUE(gateHeld);
  EXPECT_TRUE(modalGate().isOpen());
}

TEST(OpenAboutWindow, DoesNotBlockIsOwnedByTheMainWindowAndIsNotOpenedTwice) {
  auto* owner = new QWidget;
  QPointer<AboutWindow> about = openAboutWindow(owner, 0, 0);
  ASSERT_TRUE(about);
  EXPECT_TRUE(about->isVisible());
  EXPECT_TRUE(modalGate().isOpen());  // the main window keeps polling and serving DDE
  EXPECT_FALSE(about->testAttribute(Qt::WA_QuitOnClose));
  // Not above everything: a view or test window opened meanwhile must not hide behind it.
  EXPECT_FALSE(about->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(openAboutWindow(owner, 0, 0), about.data());

  delete owner;  // the main window closes: the about box goes with it
  EXPECT_TRUE(about.isNull());
}

TEST(OpenAboutWindow, AClickClosesAndDestroysIt) {
  QWidget owner;
  QPointer<AboutWindow> about = openAboutWindow(&owner, 0, 0);
  QTest::mouseClick(about.data(), Qt::LeftButton, {}, QPoint(5, 5));
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(about.isNull());
}

}  // namespace
}  // namespace kelvor
