#pragma once
// TestWindow on Windows: tries the current framing settings on the live port before running
// for real. It opens the port itself, reads it every 30 hundredths of a second, cuts,
// filters, converts and clears with the receive pipeline's own code, and shows each
// resulting frame in one field; until the first frame, a line under it says what the
// framing waits for. Nothing is delivered. Modal for the strip.

#include <string>

#include "windows/diagnostic_window.h"

namespace kelvor {

class TestWindow : public DiagnosticWindow {
 public:
  explicit TestWindow(PortContext port);
  ~TestWindow() override;

 private:
  void setTexts() override;
  void clearForOpening() override;
  bool readOnce() override;
  void showResult();
  void showHint();

  HFONT larger_ = nullptr;
  bool frameSeen_ = false;
  std::string hint_;
};

// Menu item "test" of the strip: refuses (with a message) while reception runs, otherwise
// runs the test window on the given port until it closes.
void openTestWindow(PortContext port);

}  // namespace kelvor
