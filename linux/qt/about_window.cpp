#include "linux/qt/about_window.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "core/toolkit/modal_gate.h"
#include "core/toolkit/sound.h"
#include "kelvor_build.h"

namespace kelvor {

const char* const AboutWindow::kTexts[5] = {
    "Kelvor",
    "DX",
    "Dynamic Data Exchange for Nordal instruments",
    KELVOR_PUBLISHER "  \xc2\xb7  serial instruments on the Linux desktop",
    "Version " KELVOR_VERSION "  \xc2\xb7  " KELVOR_LICENSE " licence",
};

namespace {

// Century Gothic is rarely installed on Linux; URW Gothic and TeX Gyre Adventor share its
// geometric shapes and nearly its metrics, so the layout keeps its proportions.
QFont gothic(int pointSize, bool bold) {
  QFont font;
  font.setFamilies({"Century Gothic", "URW Gothic", "TeX Gyre Adventor", "DejaVu Sans"});
  if (pointSize > 0) font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

struct Placed {
  int x, y;  // layout units
  int pointSize;  // 0: the default size
  bool bold;
};

constexpr Placed kPlaces[5] = {
    {64, 54, 110, true},
    {350, 40, 48, true},
    {72, 126, 18, false},
    {2, 188, 0, true},
    {324, 188, 0, true},
};

qint64 monotonicMilliseconds() {
  static QElapsedTimer clock = [] {
    QElapsedTimer timer;
    timer.start();
    return timer;
  }();
  return clock.elapsed();
}

}  // namespace

AboutWindow::AboutWindow(std::int32_t splashSeconds, QWidget* owner, Clock clock)
    // The splash stays above everything while the program starts. The about box does not:
    // it belongs to the strip, and a modal window opened meanwhile must not end up hidden
    // behind it.
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint | (owner ? Qt::WindowFlags() : Qt::WindowStaysOnTopHint)),
      splashSeconds_(splashSeconds),
      clock_(clock ? std::move(clock) : Clock(monotonicMilliseconds)),
      timer_(new QTimer(this)),
      background_(":/about/logoapp.jpg") {
  setObjectName("AboutWindow");
  setFixedSize(kWidth, kHeight);
  // The about box must never be what keeps the program running, nor end it by closing.
  setAttribute(Qt::WA_QuitOnClose, false);
  timer_->setInterval(10);
  connect(timer_, &QTimer::timeout, this, &AboutWindow::checkDisplayTime);
}

void AboutWindow::open(std::uint8_t soundEnable) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kWidth / 2, kHeight / 2));
  }
  show();
  timer_->start();
  start_ = clock_();
  started_ = true;
  playSoundIfEnabled("sound\\start.wav", soundEnable);
}

void AboutWindow::checkDisplayTime() {
  if (!started_ || splashSeconds_ == 0 || !isVisible()) return;
  if (clock_() - start_ > static_cast<qint64>(splashSeconds_) * 1000) close();
}

bool AboutWindow::event(QEvent* event) {
  // The display time is looked at on every event, not only on the window's own timer.
  if (event->type() != QEvent::Close && event->type() != QEvent::DeferredDelete) checkDisplayTime();
  return QWidget::event(event);
}

void AboutWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (background_.isNull()) {
    painter.fillRect(rect(), QColor("#eef6f7"));
  } else {
    painter.drawPixmap(rect(), background_);
  }
  painter.setPen(palette().color(QPalette::WindowText));
  int nameRight = 0;
  for (int i = 0; i < 5; ++i) {
    const Placed& place = kPlaces[i];
    const QFont font = gothic(place.pointSize, place.bold);
    const QFontMetrics metrics(font);
    const QString text = QString::fromUtf8(kTexts[i]);
    const int textWidth = metrics.horizontalAdvance(text);
    int x = place.x * 2;
    // The suffix completes the name: it follows the name's last letter, raised like an
    // exponent, whatever width the installed typeface gives the name.
    if (i == 1) x = nameRight + metrics.horizontalAdvance(QLatin1Char(' ')) / 2;
    // A text that would run past the right edge is moved left so it stays whole.
    x = std::max(0, std::min(x, width() - textWidth - 6));
    // The layout position is where the capitals begin: the faces Kelvor falls back on
    // carry much more space above their capitals than Century Gothic, and at 110 points
    // that space would push the name into the tagline.
    const int baseline = place.y * 2 + metrics.capHeight();
    painter.setFont(font);
    painter.drawText(QPoint(x, baseline), text);
    if (i == 0) nameRight = x + textWidth;
  }
}

void AboutWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) close();
}

void AboutWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) close();
}

void AboutWindow::closeEvent(QCloseEvent* event) {
  timer_->stop();
  event->accept();
  emit closed();
}

void runSplash(std::int32_t splashSeconds, std::uint8_t soundEnable) {
  ModalGate::Hold hold(modalGate());
  AboutWindow window(splashSeconds);
  QEventLoop loop;
  QObject::connect(&window, &AboutWindow::closed, &loop, &QEventLoop::quit);
  window.open(soundEnable);
  if (window.isVisible()) loop.exec();
}

AboutWindow* openAboutWindow(QWidget* owner, std::int32_t splashSeconds, std::uint8_t soundEnable) {
  if (owner) {
    for (AboutWindow* open : owner->findChildren<AboutWindow*>(Qt::FindDirectChildrenOnly)) {
      if (open->isVisible()) {
        open->raise();
        return open;
      }
    }
  }
  auto* window = new AboutWindow(splashSeconds, owner);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->open(soundEnable);
  return window;
}

}  // namespace kelvor
