#pragma once
// TestWindow: tries the current framing settings on the live port before running for real.
// It opens the port itself, reads it every 30 hundredths of a second, cuts, filters,
// converts and clears with the receive pipeline's own code, and shows each resulting frame
// in one field. Nothing is delivered: requestValue, the DDE items, keystrokes, sounds and
// a pending [WAITRS] are left alone. Modal for the main window.

#include <QDialog>

#include "diagnostics/diagnostic_port.h"
#include "serial/serial_library.h"

class QLineEdit;
class QTimer;

namespace kelvor {

class Lamp;

// One poll of the test window on the reception records: reads the port once, then cuts at
// most one frame and turns it into currentFrame exactly as reception does, without
// delivering it. Tells whether bytes arrived and whether a frame was cut.
struct TestPollResult {
  bool received = false;
  bool frameCut = false;
};
TestPollResult pollForTest(const Configuration& config, Reception& reception, SerialLibrary& library);

// What the test window does to the reception records when it opens: empty buffers and a
// blank currentFrame (rawFrame is left as it is).
void clearForTest(Reception& reception);

class TestWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kPollMilliseconds = 300;

  TestWindow(PortContext port, QWidget* parent = nullptr);
  ~TestWindow() override;

  // Shows the window, takes the port and returns when the window has closed.
  void run();
  // Shows the window and takes the port without entering its event loop.
  void openWindow();
  // One poll (the window's timer calls this).
  void poll();

  QLineEdit* resultField() const { return result_; }
  Lamp* greenLamp() const { return green_; }
  Lamp* redLamp() const { return red_; }

 protected:
  void done(int result) override;

 private:
  void showResult();

  DiagnosticPort port_;
  QTimer* timer_;
  QTimer* lampsOff_;
  QLineEdit* result_ = nullptr;
  Lamp* green_ = nullptr;
  Lamp* red_ = nullptr;
};

// Menu item "test" of the main window: refuses (with a message) while reception runs,
// otherwise runs the test window on the given port until it closes.
void openTestWindow(PortContext port, QWidget* parent);

}  // namespace kelvor
