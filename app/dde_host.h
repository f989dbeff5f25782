#pragma once
// The DDE server of the running program: the protocol layer on the session bus, the
// handlers and execute commands, and the main window as the host of their effects.
//
// Start-up step 13 calls start() (it serves only when ENABLESERVERDDE is 1); the main
// window's tick calls beforePoll() and afterPoll() around the serial poll; shutdown calls
// close() after the port has been closed.

#include <memory>

#include "app/kelvor_state.h"
#include "serial/serial_library.h"
#include "toolkit/notices.h"

namespace kelvor {

class MainWindow;

class DdeRuntime {
 public:
  DdeRuntime(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices);
  ~DdeRuntime();
  DdeRuntime(const DdeRuntime&) = delete;
  DdeRuntime& operator=(const DdeRuntime&) = delete;

  // Registers the server, topic "System", when ENABLESERVERDDE is 1: service "Kelvor", or
  // the one [DDE] SERVICE of KELVOR.INI names (bus name "dde." + it). When the bus name is
  // taken (a second Kelvor) or there is no session bus, the program goes on without a
  // server and says so once.
  void start();
  void close();

  void beforePoll();
  void afterPoll();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace kelvor
