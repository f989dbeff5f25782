// kelvor-sim's command line with any arguments (the input split at zero bytes). Whatever
// it accepts, the simulator can honour: an interval, count and linger that neither overflow
// nor go negative, a record length it can pad to, readings it can format.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "linux/tools/kelvor_sim/sim_frames.h"
#include "linux/tools/kelvor_sim/sim_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  using kelvor::sim::ParseOutcome;
  kelvor::sim::SimOptions options;
  const ParseOutcome outcome = kelvor::sim::parseOptions(args, options);
  if (outcome.kind == ParseOutcome::kUsage) FUZZ_CHECK(!outcome.problem.empty(), "a usage error without a reason");
  if (outcome.kind != ParseOutcome::kRun) return 0;

  FUZZ_CHECK(options.intervalMs >= 0 && options.intervalMs <= kelvor::sim::kLongestMs, "interval %ld",
             options.intervalMs);
  FUZZ_CHECK(options.lingerMs >= 0 && options.lingerMs <= kelvor::sim::kLongestMs, "linger %ld", options.lingerMs);
  FUZZ_CHECK(options.count >= -1 && options.count <= kelvor::sim::kMostReadings, "count %ld", options.count);
  const auto& frame = options.frame;
  FUZZ_CHECK(frame.length >= 1 && frame.length <= kelvor::sim::kLongestRecord, "length %d", frame.length);
  FUZZ_CHECK(frame.decimals >= 0 && frame.decimals <= 9, "decimals %d", frame.decimals);
  FUZZ_CHECK(std::isfinite(frame.start) && std::isfinite(frame.step), "start %g step %g", frame.start, frame.step);

  for (long index : {0L, 1L, 19L, 123456789L}) {
    const std::string bytes = kelvor::sim::frameBytes(frame, index);
    FUZZ_CHECK(bytes.size() >= frame.terminator.size(), "a reading shorter than its terminator");
    if (frame.format == kelvor::sim::Format::kFixed) {
      FUZZ_CHECK(bytes.size() == static_cast<std::size_t>(frame.length) + frame.terminator.size(),
                 "a fixed record of %zu bytes, not %d", bytes.size() - frame.terminator.size(), frame.length);
    }
  }
  return 0;
}
