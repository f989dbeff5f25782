#pragma once
// kelvor-sim's command line: what the simulated instrument is asked to do. Plain logic,
// apart from the program, so that tests and the fuzz target read any argument list
// without starting a pseudo-terminal.

#include <string>
#include <vector>

#include "linux/tools/kelvor_sim/sim_frames.h"

namespace kelvor::sim {

struct SimOptions {
  FrameOptions frame;
  bool terminatorGiven = false;
  std::string link;
  long intervalMs = 1000;
  bool answer = false;
  long count = -1;  // -1: until stopped
  long burst = 1;   // readings put on the line in one write
  long lingerMs = 1000;
};

// The longest interval, linger and count the simulator takes: a day, and a count that any
// run ends before. Larger values would overflow the clock and the integer fields.
constexpr double kLongestMs = 24.0 * 3600 * 1000;
constexpr double kMostReadings = 1e15;
constexpr double kLongestRecord = 65536;
constexpr double kLargestBurst = 1000;

struct ParseOutcome {
  enum Kind { kRun, kHelp, kVersion, kUsage } kind = kRun;
  std::string problem;  // kUsage: what was wrong, in a sentence for the user
};

// Reads the arguments that follow the program name into `options`.
ParseOutcome parseOptions(const std::vector<std::string>& args, SimOptions& options);

// The --help text.
extern const char kHelp[];

}  // namespace kelvor::sim
