#pragma once
// ViewWindow on Windows: watches the raw bytes on the configured port, without framing,
// filtering or delivery. It opens the port itself, reads it every 30 hundredths of a second
// and shows each read twice: as running text on the left and byte by byte (position within
// the read, character, value) in a list on the right. Modal for the strip: its ticks and
// DDE events wait until the window closes.

#include "core/diagnostics/view_log.h"
#include "windows/diagnostic_window.h"

namespace kelvor {

class ViewWindow : public DiagnosticWindow {
 public:
  explicit ViewWindow(PortContext port);

 private:
  void setTexts() override;
  void clearForOpening() override;
  bool readOnce() override;
  void command(int id) override;
  LRESULT notify(const NMHDR& header) override;
  void showText();
  void showRows();

  ViewLog log_;
  std::wstring cell_;  // the text of the cell the list asked for last
};

// Menu item "view" of the strip: refuses (with a message) while reception runs, otherwise
// runs the view window on the given port until it closes.
void openViewWindow(PortContext port);

}  // namespace kelvor
