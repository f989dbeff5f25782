#pragma once
// ViewWindow: watches the raw bytes on the configured port, without framing, filtering or
// delivery. It opens the port itself, reads it every 30 hundredths of a second and shows
// each read twice: as running text on the left and byte by byte (position within the
// read, character, value) in a table on the right. Modal for the main window: its ticks
// and DDE events wait until the window closes.

#include <QDialog>

#include "diagnostics/diagnostic_port.h"
#include "diagnostics/view_log.h"
#include "serial/serial_library.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace kelvor {

class Lamp;
class ByteTableModel;

class ViewWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kPollMilliseconds = 300;

  ViewWindow(PortContext port, QWidget* parent = nullptr);
  ~ViewWindow() override;

  // Shows the window, takes the port and returns when the window has closed (the port is
  // closed and the main window's handle back in portWindowHandle by then).
  void run();

  // Shows the window and takes the port without entering its event loop (run() and tests).
  void openWindow();

  // One read of the port (the window's timer calls this).
  void poll();

  const ViewLog& log() const { return log_; }
  QPlainTextEdit* textBox() const { return textBox_; }
  QTableView* table() const { return table_; }
  QPushButton* clearTextButton() const { return clearText_; }
  QPushButton* clearTableButton() const { return clearTable_; }
  Lamp* greenLamp() const { return green_; }
  Lamp* redLamp() const { return red_; }
  QLabel* receiveLabel() const { return receiveLabel_; }
  QLabel* convertLabel() const { return convertLabel_; }

 protected:
  void done(int result) override;

 private:
  void buildControls();
  void setTexts();
  void showText();
  void clearTextSide();
  void clearTableSide();

  DiagnosticPort port_;
  ViewLog log_;
  ByteTableModel* model_;
  QTimer* timer_;
  QTimer* lampsOff_;
  QPlainTextEdit* textBox_ = nullptr;
  QTableView* table_ = nullptr;
  QPushButton* clearText_ = nullptr;
  QPushButton* clearTable_ = nullptr;
  QLabel* receiveLabel_ = nullptr;
  QLabel* convertLabel_ = nullptr;
  Lamp* green_ = nullptr;
  Lamp* red_ = nullptr;
};

// Menu item "view" of the main window: refuses (with a message) while reception runs,
// otherwise runs the view window on the given port until it closes.
void openViewWindow(PortContext port, QWidget* parent);

}  // namespace kelvor
