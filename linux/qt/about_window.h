#pragma once
// AboutWindow: the captionless picture window with the product's name and tagline.
//
// It serves twice. At start-up it is the splash: runSplash shows it and returns once it has
// closed, after splashSeconds or at the first click, so the main window appears only then.
// From the menu it is the about box: openAboutWindow shows it without blocking, so the main
// window keeps polling and serving DDE while it is open; it stays until it is clicked and is
// owned by the main window, so closing the program closes it too. Both play the start sound.
//
// The display time is measured on a monotonic clock, so a splash shown across midnight (or
// across a change of the system time) still closes on time.

#include <QPixmap>
#include <QWidget>

#include <cstdint>
#include <functional>

class QTimer;

namespace kelvor {

class AboutWindow : public QWidget {
  Q_OBJECT

 public:
  // Milliseconds on a monotonic clock; tests substitute their own.
  using Clock = std::function<qint64()>;

  // The layout is 394 x 199 units of 2 device-independent pixels.
  static constexpr int kWidth = 788;
  static constexpr int kHeight = 398;

  // splashSeconds 0: the window never closes by itself.
  explicit AboutWindow(std::int32_t splashSeconds, QWidget* owner = nullptr, Clock clock = {});

  // Shows the window, starts its display-time check and plays the start sound when
  // soundEnable is 1.
  void open(std::uint8_t soundEnable);

  // Requests the closing once more than splashSeconds have passed since open().
  void checkDisplayTime();

  // The five texts, in layout order: name, suffix, tagline, maker line, release line.
  static const char* const kTexts[5];

 signals:
  void closed();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  std::int32_t splashSeconds_;
  Clock clock_;
  qint64 start_ = 0;
  bool started_ = false;
  QTimer* timer_;
  QPixmap background_;
};

// The splash at start-up: shows the window and returns when it has closed. The modal gate
// is held meanwhile.
void runSplash(std::int32_t splashSeconds, std::uint8_t soundEnable);

// The about box from the menu: shows the window owned by `owner` and returns at once. An
// about box that is already open is raised instead of opening a second one.
AboutWindow* openAboutWindow(QWidget* owner, std::int32_t splashSeconds, std::uint8_t soundEnable);

}  // namespace kelvor
