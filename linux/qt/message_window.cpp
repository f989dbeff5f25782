#include "linux/qt/message_window.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <memory>

#include "core/toolkit/encoding.h"
#include "core/toolkit/modal_gate.h"
#include "linux/qt/exec_modal.h"
#include "linux/qt/layout.h"
#include "linux/qt/pictures.h"
#include "core/toolkit/sound.h"
#include "core/toolkit/text.h"

namespace kelvor {
namespace {

// Swallows key presses while it is installed, remembering that one came.
class KeyPressCatcher : public QObject {
 public:
  KeyPressCatcher() { qApp->installEventFilter(this); }
  ~KeyPressCatcher() override { qApp->removeEventFilter(this); }
  bool pressed = false;
  QEventLoop* loopToEnd = nullptr;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
    if (event->type() == QEvent::KeyPress) {
      pressed = true;
      if (loopToEnd != nullptr) loopToEnd->quit();
    }
    return true;
  }
};

QLabel* messageLine(QWidget* parent, int n, int y, const std::string& text) {
  auto* label = new QLabel(parent);
  label->setObjectName(QStringLiteral("messageLine%1").arg(n));
  label->setGeometry(4 * kUnit, y * kUnit, 290 * kUnit, 12 * kUnit);
  label->setTextFormat(Qt::PlainText);
  QFont font(QStringLiteral("Arial"), 14, QFont::Bold);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(255, 58, 53));
  label->setPalette(palette);
  label->setText(QString::fromStdString(displayText(trimRight(text))));
  return label;
}

void showLines(QDialog& window, std::string_view text) {
  const MessageLines lines = messageLines(text);
  for (int n = 0; n < 3; ++n) {
    auto* label = window.findChild<QLabel*>(QStringLiteral("messageLine%1").arg(n));
    if (label != nullptr) label->setText(QString::fromStdString(displayText(trimRight(lines.line[n]))));
  }
}

}  // namespace

namespace {

// The message window with its three lines and OK; `focusHolder` is set to the control that
// must take the focus once it shows. OK accepts the dialog.
QDialog* makeMessageWindow(std::string_view text, QWidget* parent, QPushButton*& focusHolder) {
  auto* window = new QDialog(parent);
  window->setWindowTitle(QStringLiteral("!"));
  window->setFixedSize(300 * kUnit, 74 * kUnit);
  window->setWindowFlag(Qt::WindowStaysOnTopHint);

  auto* picture = new QLabel(window);
  picture->setPixmap(builtInPicture("f_messag.jpg"));
  picture->setGeometry(0, 0, 298 * kUnit, 46 * kUnit);

  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();

  const MessageLines lines = messageLines(text);
  messageLine(window, 0, 4, lines.line[0]);
  messageLine(window, 1, 17, lines.line[1]);
  messageLine(window, 2, 30, lines.line[2]);

  auto* ok = new QPushButton(window);
  ok->setGeometry(138 * kUnit, 48 * kUnit, 24 * kUnit, 24 * kUnit);
  const QPixmap okPicture = builtInPicture("b_ok.jpg");
  ok->setIcon(okPicture);
  ok->setIconSize(okPicture.size());
  ok->setFlat(true);
  ok->setAccessibleName(QStringLiteral("OK"));

  // Below the visible area: it takes the focus so that a stray Enter does not press OK.
  focusHolder = new QPushButton(window);
  focusHolder->setGeometry(100 * kUnit, 100 * kUnit, 5 * kUnit, 5 * kUnit);
  focusHolder->setAutoDefault(false);
  ok->setAutoDefault(false);
  QObject::connect(ok, &QPushButton::clicked, window, &QDialog::accept);

  soundName() = "sound\\info.wav";
  return window;
}

}  // namespace

void showMessage(std::string_view text, std::uint8_t soundEnable, std::string_view touchSoundPath) {
  QPushButton* focusHolder = nullptr;
  std::unique_ptr<QDialog> window(makeMessageWindow(text, nullptr, focusHolder));
  if (soundEnable == 1) playSoundFile(soundName().str());
  window->show();
  focusHolder->setFocus();
  if (execModal(*window) == QDialog::Accepted && soundEnable == 1) playSoundFile(touchSoundPath);
}

void showMessageWithoutWaiting(std::string_view text, std::uint8_t soundEnable, std::string touchSoundPath,
                               QWidget* owner) {
  // One at a time: ten linked cells would otherwise stack ten windows. A later message shows
  // its text in the one still open.
  static QPointer<QDialog> open;
  if (open) {
    showLines(*open, text);
    return;
  }
  QPushButton* focusHolder = nullptr;
  QDialog* window = makeMessageWindow(text, owner, focusHolder);
  open = window;
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setModal(false);
  if (soundEnable == 1) {
    QObject::connect(window, &QDialog::accepted, window, [touchSoundPath] { playSoundFile(touchSoundPath); });
    playSoundFile(soundName().str());
  }
  window->show();
  placeClearOfStrip(*window);
  focusHolder->setFocus();
}

void flushKeyboard() {
  KeyPressCatcher catcher;
  QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
}

void waitSeconds(double seconds) {
  ModalGate::Hold hold(modalGate());
  flushKeyboard();
  if (!(seconds > 0)) return;
  // A monotonic clock: a wait across midnight (or a clock change) still ends on time.
  // Qt's timers run on it too.
  const auto hundredths = static_cast<long long>(seconds * 100);
  QEventLoop loop;
  KeyPressCatcher catcher;
  catcher.loopToEnd = &loop;
  QTimer::singleShot(std::chrono::milliseconds(hundredths * 10), Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace kelvor
