#include "core/line/run_control.h"

#include "core/line/port_watch.h"

namespace kelvor {

void RunControl::start(Trigger trigger) {
  if (trigger == Trigger::Command) {
    if (reception_.isRunning == 1) return;
    reception_.waitState = 0;
  }
  reception_.isRunning = 1;
  if (trigger == Trigger::RunButton) view_.setMenuEnabled(false);
  if (openPort) openPort();
  reception_.clearBuffers();
  reception_.rawFrame.clear();
  reception_.currentFrame.clear();
  if (watch) watch->runStarted();
  view_.showRunning(true);
}

void RunControl::stop(Trigger trigger) {
  if (trigger == Trigger::Command) reception_.waitState = 0;
  reception_.isRunning = 0;
  if (trigger == Trigger::RunButton) view_.setMenuEnabled(true);
  if (watch) watch->runStopped();
  if (closePort) closePort();
  view_.showRunning(false);
}

}  // namespace kelvor
