#pragma once
// The port as the view and test windows use it: each window opens the configured port
// itself when it opens and closes it when it closes, with its own handle in
// portWindowHandle meanwhile, and hands the main window's handle back afterwards.
//
// While reception runs (started from the strip or by [RUN], which leaves the menu usable)
// the port is already open under the running reception. Opening it a second time would
// have the window and the reception take bytes from each other, so the windows refuse to
// open then and say why; reception goes on untouched.

#include <cstdint>
#include <optional>
#include <string>

#include "core/line/port_control.h"


namespace kelvor {

class DiagnosticPort {
 public:
  // `context`: the program's records, its serial library and its notices.
  explicit DiagnosticPort(PortContext context) : context_(context) {}
  ~DiagnosticPort() { close(); }
  DiagnosticPort(const DiagnosticPort&) = delete;
  DiagnosticPort& operator=(const DiagnosticPort&) = delete;

  // Stores `windowHandle` in portWindowHandle, then opens the port (a failure is shown to
  // the user by openPort; the window still opens and polls).
  void open(std::uint16_t windowHandle);
  // Closes the port and stores the handle found before open() back. Does nothing when the
  // port was not opened here.
  void close();

  bool isOpen() const { return open_; }
  SerialLibrary& library() { return context_.library; }
  const Configuration& config() const { return context_.config; }
  Language& language() { return context_.language; }
  Reception& reception() { return context_.reception; }
  Notices& notices() { return context_.notices; }

 private:
  PortContext context_;
  std::uint16_t ownerHandle_ = 0;
  bool open_ = false;
};


// The text shown when a diagnostics window is asked for while reception runs; empty when
// the window may open.
std::string diagnosticsRefusal(const Reception& reception);

// Tells the refusal (when there is one) in a box the user closes, and tells whether the
// window may open.
bool mayOpenDiagnostics(const Reception& reception, Notices& notices, const std::string& caption);

// One read of the view window: the read's bytes as they came, zero bytes included (a count
// beyond what the buffer holds stands for zero bytes a C-text copy would have lost); empty
// when nothing arrived.
std::string readForView(DiagnosticPort& port);

// One poll of the test window on the reception records: reads the port once, then cuts at
// most one frame and turns it into currentFrame exactly as reception does, without
// delivering it. Tells whether bytes arrived and whether a frame was cut.
struct TestPollResult {
  bool received = false;
  bool frameCut = false;
};
TestPollResult pollForTest(const Configuration& config, Reception& reception, SerialLibrary& library);

// What the test window says under its field while bytes arrive and no frame has been cut
// since it opened, so that an empty field does not leave the user guessing: that no frame
// end has been seen, the end the configuration waits for, and what the line sends instead
// where that shows (CR alone, for a CR LF configuration). Empty while nothing is held.
std::string frameEndHint(const Configuration& config, const Reception& reception);

// What the test window does to the reception records when it opens: empty buffers and a
// blank currentFrame (rawFrame is left as it is).
void clearForTest(Reception& reception);

// The notice of a device that stopped answering while a diagnostics window holds it;
// nothing while it answers. The window is modal already, so the user is asked to close it
// and open it again once the device is back.
std::optional<Notice> lostPortNotice(DiagnosticPort& port);

}  // namespace kelvor
