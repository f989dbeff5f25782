// The cost of one poll of the receive pipeline when the port delivers a full read of 2549
// characters every time (an instrument flooding the line): append with the backlog bound,
// one frame cut, filter, conversion and hand-over to requestValue.
#include <benchmark/benchmark.h>

#include <string>

#include "core/line/receive_pipeline.h"

namespace kelvor {
namespace {

// Hands out the same full read at every call.
class FloodingLibrary : public SerialLibrary {
 public:
  explicit FloodingLibrary(std::string read) : read_(std::move(read)) {}
  std::int16_t SetPortEx(int, std::uint16_t, int, int, int, int, int) override { return 0; }
  std::int16_t InitPort(int, std::int16_t, int, int, int) override { return 0; }
  void Dtr(int, int) override {}
  void ComDelay(int, int) override {}
  void ClrBuf(int) override {}
  void ResetPort(int, std::uint16_t) override {}
  void DisplayPortError(std::int16_t) override {}
  std::int16_t ComGetb(int, ZField<2550>& receiveBuffer) override {
    receiveBuffer = read_;
    return static_cast<std::int16_t>(read_.size());
  }
  void ComPutb(int, const char*, int) override {}
  void ComPuts(int, std::string_view) override {}

 private:
  std::string read_;
};

std::string fullRead(const std::string& frame) {
  std::string read;
  while (read.size() + frame.size() <= 2549) read += frame;
  read.resize(2549, 'x');  // the read ends inside a frame
  return read;
}

void runPolls(benchmark::State& state, const Configuration& config, const std::string& frame) {
  FloodingLibrary library(fullRead(frame));
  Reception reception;
  reception.isRunning = 1;
  for (auto _ : state) {
    poll(config, reception, library);
    benchmark::DoNotOptimize(reception.currentFrame);
  }
  state.SetItemsProcessed(state.iterations());
}

void PollFullBufferEndCharacter(benchmark::State& state) {
  Configuration config;
  config.SELECTENDOF = 1;
  config.ENDOFCHAR = 2;
  config.ENABLECONVERTVALUE = 1;
  runPolls(state, config, "+0012.50 g\r\n");
}

void PollFullBufferByteCount(benchmark::State& state) {
  Configuration config;
  config.SELECTENDOF = 2;
  config.NUMBEROFBYTE = 12;
  config.LENFILTERENABLE = 1;
  config.LENFILTERSTART = 2;
  config.LENFILTEREND = 7;
  config.ENABLECONVERTVALUE = 1;
  runPolls(state, config, "+0012.50 g  ");
}

void PollFullBufferEndString(benchmark::State& state) {
  Configuration config;
  config.SELECTENDOF = 3;
  config.ENDOFSTRING = "<END>";
  runPolls(state, config, "+0012.50 g<END>");
}

// No terminator ever: every poll overflows the buffer and resynchronises.
void PollFullBufferNoTerminator(benchmark::State& state) {
  Configuration config;
  config.SELECTENDOF = 1;
  config.ENDOFCHAR = 1;
  runPolls(state, config, "garbage without end ");
}

BENCHMARK(PollFullBufferEndCharacter);
BENCHMARK(PollFullBufferByteCount);
BENCHMARK(PollFullBufferEndString);
BENCHMARK(PollFullBufferNoTerminator);

}  // namespace
}  // namespace kelvor

BENCHMARK_MAIN();
