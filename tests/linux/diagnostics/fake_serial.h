#pragma once
// A serial library for the diagnostics tests: hands out scripted reads (zero bytes kept as
// data) and records which handle each opening and closing was given.

#include <deque>
#include <string>
#include <vector>

#include "core/line/serial_library.h"

namespace kelvor::testing {

class ScriptedSerial : public SerialLibrary {
 public:
  struct Read {
    std::string bytes;
    int count;  // what ComGetb returns; normally bytes.size()
  };
  std::deque<Read> reads;
  std::vector<std::string> calls;
  std::vector<std::uint16_t> openHandles;
  std::vector<std::uint16_t> resetHandles;
  int getCount = 0;

  void queue(std::string bytes) {
    const int count = static_cast<int>(bytes.size());
    reads.push_back({std::move(bytes), count});
  }

  std::int16_t SetPortEx(int, std::uint16_t handle, int, int, int, int, int) override {
    calls.push_back("SetPortEx");
    openHandles.push_back(handle);
    return 0;
  }
  std::int16_t InitPort(int, std::int16_t, int, int, int) override {
    calls.push_back("InitPort");
    return 0;
  }
  void Dtr(int, int) override { calls.push_back("Dtr"); }
  void ComDelay(int, int) override { calls.push_back("ComDelay"); }
  void ClrBuf(int) override { calls.push_back("ClrBuf"); }
  void ResetPort(int, std::uint16_t handle) override {
    calls.push_back("ResetPort");
    resetHandles.push_back(handle);
  }
  void DisplayPortError(std::int16_t) override { calls.push_back("DisplayPortError"); }
  std::int16_t ComGetb(int, ZField<2550>& receiveBuffer) override {
    ++getCount;
    receiveBuffer.clear();
    if (reads.empty()) return 0;
    Read read = reads.front();
    reads.pop_front();
    receiveBuffer = read.bytes;
    return static_cast<std::int16_t>(read.count);
  }
  void ComPutb(int, const char*, int) override { calls.push_back("ComPutb"); }
  void ComPuts(int, std::string_view) override { calls.push_back("ComPuts"); }

  int count(const std::string& name) const {
    int n = 0;
    for (const auto& call : calls) n += call == name;
    return n;
  }
};

}  // namespace kelvor::testing
