#pragma once
// Where a delivered reading goes on from the poll: the poll hands the frame it delivered,
// with the settings in force, to the outputs it was given (keystroke output), so a reading
// travels one way from the port outwards.

#include "config/configuration.h"
#include "toolkit/text.h"

namespace kelvor {

class ReadingOutput {
 public:
  virtual ~ReadingOutput() = default;
  virtual void deliver(const Text<2550>& currentFrame, const Configuration& config) = 0;
};

}  // namespace kelvor
