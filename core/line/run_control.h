#pragma once
// Run control: the transitions of the running state, shared by the strip's run button and
// the [RUN] and [STOP] commands.
//
// Starting sets isRunning, opens the port (a failed open is reported by the port itself;
// the running state stays, as the user asked for it), then empties the buffers and blanks
// the frames. Stopping clears isRunning and closes the port. The commands also end a
// pending [WAITRS], and [RUN] does nothing while a run is on; the button also locks the
// menu for the length of the run, the commands leave it as it is. The port's watch (which
// brings a device that went away back) runs from a start to the next stop.

#include <functional>
#include <string>

#include "core/line/reception.h"

namespace kelvor {

// What the strip shows of the run state.
class RunView {
 public:
  virtual ~RunView() = default;
  // The run button's picture and tooltip, the z-order applied again, the texts shown again.
  virtual void showRunning(bool running) = 0;
  virtual void setMenuEnabled(bool enabled) = 0;
  // The port's device is away during the run: `description` says which, why and since
  // when; empty when it is there again or the run has stopped.
  virtual void showPortAway(const std::string& description) = 0;
};

class PortWatch;

class RunControl {
 public:
  enum class Trigger { RunButton, Command };

  RunControl(Reception& reception, RunView& view) : reception_(reception), view_(view) {}

  // How the port opens and closes (set by the program once the port exists).
  std::function<void()> openPort;
  std::function<void()> closePort;
  // Watches the port through each run (set by the program; none in some tests).
  PortWatch* watch = nullptr;

  void start(Trigger trigger);
  void stop(Trigger trigger);

 private:
  Reception& reception_;
  RunView& view_;
};

}  // namespace kelvor
