#pragma once
// TestWindow: tries the current framing settings on the live port before running for real.
// It opens the port itself, reads it every 30 hundredths of a second, cuts, filters,
// converts and clears with the receive pipeline's own code, and shows each resulting frame
// in one field; until the first frame, a line under it says what the framing waits for.
// Nothing is delivered: requestValue, the DDE items, keystrokes, sounds and
// a pending [WAITRS] are left alone. Modal for the main window.

#include "linux/qt/diagnostic_window.h"
#include "core/line/serial_library.h"

class QLabel;
class QLineEdit;

namespace kelvor {

class TestWindow : public DiagnosticWindow {
  Q_OBJECT

 public:
  explicit TestWindow(PortContext port, QWidget* parent = nullptr);
  ~TestWindow() override;

  QLineEdit* resultField() const { return result_; }
  QLabel* hintLine() const { return hint_; }

 private:
  void setTexts() override;
  void clearForOpening() override;
  bool readOnce() override;
  void showResult();
  void showHint();

  QLineEdit* result_ = nullptr;
  QLabel* hint_ = nullptr;
  bool frameSeen_ = false;
};

// Menu item "test" of the main window: refuses (with a message) while reception runs,
// otherwise runs the test window on the given port until it closes.
void openTestWindow(PortContext port, QWidget* parent);

}  // namespace kelvor
