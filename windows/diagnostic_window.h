#pragma once
// DiagnosticWindow: what the view and test windows share on Windows. Each is a modal dialog
// over the strip that takes the configured port itself under its own handle while it is
// open, reads it every 30 hundredths of a second, and shows each read on a green lamp (lit
// while a read runs) and a red one (lit when bytes arrived), both kept lit a moment so that
// a read can be seen at all. A device that goes away while the window is open is said once.
// A window supplies its template, its texts, what it clears when it opens and what it does
// with one read.

#include <windows.h>

#include "core/diagnostics/diagnostic_port.h"

namespace kelvor {

class DiagnosticWindow {
 public:
  static constexpr UINT kPollMilliseconds = 300;

  virtual ~DiagnosticWindow() = default;
  DiagnosticWindow(const DiagnosticWindow&) = delete;
  DiagnosticWindow& operator=(const DiagnosticWindow&) = delete;

  // Shows the window, takes the port and returns when the window has closed (the port is
  // closed and the strip's handle back in portWindowHandle by then).
  void run();

 protected:
  struct Parts {
    int templateId, pictureId, greenId, redId;
    const char* picture;
  };
  DiagnosticWindow(PortContext port, Parts parts) : port_(port), parts_(parts) {}

  // The texts from the language file; called once the window shows, before the port opens.
  virtual void setTexts() = 0;
  // What the window empties once the port is open.
  virtual void clearForOpening() = 0;
  // One read and what the window shows of it; true when bytes arrived.
  virtual bool readOnce() = 0;
  // A button of the window's own was pressed.
  virtual void command(int /*id*/) {}
  // A notification of one of its controls.
  virtual LRESULT notify(const NMHDR& /*header*/) { return 0; }

  DiagnosticPort port_;
  HWND dialog_ = nullptr;

 private:
  static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  void open();
  void poll();
  void showLamps(bool green, bool red);
  void close();

  Parts parts_;
  bool green_ = false;
  bool red_ = false;
  bool lossTold_ = false;
};

}  // namespace kelvor
