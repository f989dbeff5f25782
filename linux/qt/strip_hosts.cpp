#include "linux/qt/strip_hosts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>

#include "core/system/system.h"
#include "core/toolkit/modal_gate.h"
#include "core/toolkit/sound.h"
#include "linux/qt/main_window.h"
#include "linux/qt/message_window.h"

namespace kelvor {
namespace {

constexpr int kWaitPassMs = 10;

// Notes that a key was pressed while a blocking command waits; the key itself goes on to
// the main window (its key-catcher), which takes it as an event.
class KeyPressWatch : public QObject {
 public:
  KeyPressWatch() { qApp->installEventFilter(this); }
  ~KeyPressWatch() override { qApp->removeEventFilter(this); }
  bool pressed = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) pressed = true;
    return false;
  }
};

}  // namespace

StripKeystrokeHost::StripKeystrokeHost(MainWindow& window) : window_(window) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    // Like the tick, typing waits while a modal window of Kelvor's is open: the keystrokes
    // would land in it.
    if (!modalGate().isOpen()) {
      timer_.start(20);
      return;
    }
    auto then = std::move(then_);
    then_ = nullptr;
    if (then) then();
  });
}

void StripKeystrokeHost::focusKeyCatcher() { window_.focusKeyCatcher(); }

void StripKeystrokeHost::setSendKeyIcon(std::string_view icon) {
  window_.setSendKeyIcon(icon);
  window_.repaint();
}

void StripKeystrokeHost::playKeySound(std::string_view file, std::uint8_t soundEnable) {
  playSoundIfEnabled(file, soundEnable);
}

void StripKeystrokeHost::callAfter(int milliseconds, std::function<void()> then) {
  then_ = std::move(then);
  timer_.start(milliseconds);
}

void StripKeystrokeHost::showKeyboard(std::string_view name) {
  window_.setSendKeyToolTip("Keystrokes: " + std::string(name));
}

// Any window of this program that is active takes what the keyboard types: the strip, a
// box, the outputs window.
bool StripKeystrokeHost::ownWindowFocused() const { return QApplication::activeWindow() != nullptr; }

void StripKeystrokeHost::showTypingPaused(bool paused) {
  window_.showTypingPaused(paused ? std::string(kTypingPausedText) : std::string());
  window_.repaint();
}

void StripCommandHost::runFromCommand() { window_.runFromCommand(); }
void StripCommandHost::stopFromCommand() { window_.stopFromCommand(); }
void StripCommandHost::closePort() {
  if (closePortWith) closePortWith();
}
void StripCommandHost::setZOrderMode(std::uint8_t mode) { window_.setZOrderMode(mode); }
void StripCommandHost::forceZOrder() { window_.forceZOrder(); }
void StripCommandHost::closeMainWindow() { window_.close(); }
// What a command changes is painted by the event loop, only where it changed, not by the
// command: one that waits runs the loop, the others return to it at once.
void StripCommandHost::refresh() { window_.showTexts(); }
void StripCommandHost::setOrangeLamp(bool shown) { window_.setLamp(MainWindow::Lamp::Orange, shown); }
void StripCommandHost::setDdeStatusIcon(const std::string& icon) { window_.setDdeIcon(icon); }
void StripCommandHost::setWindowHeight(int units) { window_.setWaitBandShown(units > MainWindow::kShownHeightUnits); }
void StripCommandHost::setProgress(double percent) { window_.setProgress(percent); }

bool StripCommandHost::waitPass() {
  KeyPressWatch watch;
  QEventLoop loop;
  QTimer::singleShot(kWaitPassMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
  return watch.pressed;
}

void StripCommandHost::flushKeyboard() { kelvor::flushKeyboard(); }
void StripCommandHost::waitSeconds(double seconds) { kelvor::waitSeconds(seconds); }
void StripCommandHost::showMessage(const std::string& text) {
  kelvor::showMessage(text, state_.config.SOUNDENABLE, state_.touchSoundPath);
}
void StripCommandHost::showMessageWithoutWaiting(const std::string& text) {
  kelvor::showMessageWithoutWaiting(text, state_.config.SOUNDENABLE, state_.touchSoundPath, &window_);
}
void StripCommandHost::playSoundIfEnabled(const std::string& name, std::uint8_t soundEnable) {
  kelvor::playSoundIfEnabled(name, soundEnable);
}
std::string StripCommandHost::currentDirectory() { return kelvor::currentDirectory(); }

bool QtUiThread::isCurrent() const { return QThread::currentThread() == context_.thread(); }

void QtUiThread::post(std::function<void()> call) {
  QMetaObject::invokeMethod(&context_, std::move(call), Qt::QueuedConnection);
}

}  // namespace kelvor
