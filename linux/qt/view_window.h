#pragma once
// ViewWindow: watches the raw bytes on the configured port, without framing, filtering or
// delivery. It opens the port itself, reads it every 30 hundredths of a second and shows
// each read twice: as running text on the left and byte by byte (position within the
// read, character, value) in a table on the right. Modal for the main window: its ticks
// and DDE events wait until the window closes.

#include "linux/qt/diagnostic_window.h"
#include "core/diagnostics/view_log.h"
#include "core/line/serial_library.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace kelvor {

class ByteTableModel;

class ViewWindow : public DiagnosticWindow {
  Q_OBJECT

 public:
  explicit ViewWindow(PortContext port, QWidget* parent = nullptr);
  ~ViewWindow() override;

  const ViewLog& log() const { return log_; }
  QPlainTextEdit* textBox() const { return textBox_; }
  QTableView* table() const { return table_; }
  QPushButton* clearTextButton() const { return clearText_; }
  QPushButton* clearTableButton() const { return clearTable_; }
  QLabel* receiveLabel() const { return receiveLabel_; }
  QLabel* convertLabel() const { return convertLabel_; }

 private:
  void buildControls();
  void setTexts() override;
  void clearForOpening() override;
  bool readOnce() override;
  void showText();
  void clearTextSide();
  void clearTableSide();

  ViewLog log_;
  ByteTableModel* model_;
  QPlainTextEdit* textBox_ = nullptr;
  QTableView* table_ = nullptr;
  QPushButton* clearText_ = nullptr;
  QPushButton* clearTable_ = nullptr;
  QLabel* receiveLabel_ = nullptr;
  QLabel* convertLabel_ = nullptr;
};

// Menu item "view" of the main window: refuses (with a message) while reception runs,
// otherwise runs the view window on the given port until it closes.
void openViewWindow(PortContext port, QWidget* parent);

}  // namespace kelvor
