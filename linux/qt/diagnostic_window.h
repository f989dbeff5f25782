#pragma once
// DiagnosticWindow: what the view and test windows share. Each is modal for the main
// window, takes the configured port itself under its own handle while it is open, reads it
// every 30 hundredths of a second, and shows each read on a green lamp (lit while a read
// runs) and a red one (lit when bytes arrived), both kept lit a moment so a read can be
// seen at all. A device that goes away while the window is open is said once: the window
// is modal already, and the user closes it and opens it again once the device is back.
// A window supplies its controls, its texts, what it clears when it opens and
// what it does with one read.

#include <QDialog>

#include "core/diagnostics/diagnostic_port.h"

class QTimer;

namespace kelvor {

class Lamp;

class DiagnosticWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kPollMilliseconds = 300;

  ~DiagnosticWindow() override;

  // Shows the window, takes the port and returns when the window has closed (the port is
  // closed and the main window's handle back in portWindowHandle by then).
  void run();
  // Shows the window and takes the port without entering its event loop (run() and tests).
  void openWindow();
  // One read of the port (the window's timer calls this).
  void poll();

  Lamp* greenLamp() const { return green_; }
  Lamp* redLamp() const { return red_; }

 protected:
  DiagnosticWindow(PortContext port, QWidget* parent);

  // The texts from the language file; called once the window shows, before the port opens.
  virtual void setTexts() = 0;
  // What the window empties once the port is open.
  virtual void clearForOpening() = 0;
  // One read and what the window shows of it; true when bytes arrived.
  virtual bool readOnce() = 0;

  void done(int result) override;

  DiagnosticPort port_;
  Lamp* green_;
  Lamp* red_;

 private:
  QTimer* timer_;
  QTimer* lampsOff_;
  bool lossTold_ = false;  // the device went away while the window was open: said once
};

// A window's native handle as portWindowHandle holds it: truncated to 16 bits.
std::uint16_t portHandleOf(QWidget& window);

}  // namespace kelvor
