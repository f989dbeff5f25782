#include "windows/test_window.h"

#include "core/diagnostics/view_log.h"
#include "core/i18n/translate.h"
#include "windows/text_convert.h"
#include "windows/window_parts.h"
#include "windows/windows_ids.h"

namespace kelvor {

TestWindow::TestWindow(PortContext port)
    : DiagnosticWindow(port, {IDD_TEST, IDC_TEST_PICTURE, IDC_TEST_GREEN, IDC_TEST_RED, "~test.jpg"}) {}

TestWindow::~TestWindow() {
  if (larger_) DeleteObject(larger_);
}

void TestWindow::setTexts() {
  port_.language().languageSection = "test";
  setWindowText(dialog_, translate(port_.language(), "screen"));
  // The frame in a larger type, as the field is the whole point of the window.
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog_, WM_GETFONT, 0, 0)), sizeof font, &font);
  font.lfHeight = font.lfHeight * 14 / 10;
  larger_ = CreateFontIndirectW(&font);
  SendDlgItemMessageW(dialog_, IDC_TEST_RESULT, WM_SETFONT, reinterpret_cast<WPARAM>(larger_), FALSE);
}

void TestWindow::clearForOpening() {
  clearForTest(port_.reception());
  frameSeen_ = false;
  showResult();
  showHint();
}

bool TestWindow::readOnce() {
  const TestPollResult result = pollForTest(port_.config(), port_.reception(), port_.library());
  if (result.frameCut) showResult();
  frameSeen_ = frameSeen_ || result.frameCut;
  showHint();
  return result.received;
}

// Set only when it changes, so that the line does not flicker at every read.
void TestWindow::showHint() {
  const std::string hint = frameSeen_ ? std::string() : frameEndHint(port_.config(), port_.reception());
  if (hint == hint_) return;
  hint_ = hint;
  SetDlgItemTextW(dialog_, IDC_TEST_HINT, toWide(hint_).c_str());
}

void TestWindow::showResult() {
  SetDlgItemTextW(dialog_, IDC_TEST_RESULT, toWide(displayFrameText(port_.reception().currentFrame.trimmed())).c_str());
}

void openTestWindow(PortContext port) {
  port.language.languageSection = "test";
  if (!mayOpenDiagnostics(port.reception, port.notices, translate(port.language, "screen"))) return;
  TestWindow window(port);
  window.run();
}

}  // namespace kelvor
