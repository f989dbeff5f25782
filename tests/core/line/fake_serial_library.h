#pragma once
// A serial library that records every call in order and hands out scripted reads, so
// tests can check call order and feed the pipeline exactly the chunks they want.

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "core/line/serial_library.h"

namespace kelvor::testing {

class FakeSerialLibrary : public SerialLibrary {
 public:
  std::vector<std::string> calls;
  // What the port holds, one entry per read; a read taking less than an entry leaves the
  // rest of it for the next. None left: nothing arrived.
  std::deque<std::string> reads;
  std::vector<std::size_t> asked;  // what each read was allowed to take
  std::int16_t setPortResult = 0;
  std::int16_t initPortResult = 0;

  std::int16_t SetPortEx(int port, std::uint16_t handle, int readTimeout, int writeTimeout, int useCts,
                         int useXon, int useDtr) override {
    record("SetPortEx", {port, handle, readTimeout, writeTimeout, useCts, useXon, useDtr});
    return setPortResult;
  }
  std::int16_t InitPort(int port, std::int16_t baudRate, int parity, int dataBits, int stopBits) override {
    record("InitPort", {port, baudRate, parity, dataBits, stopBits});
    return initPortResult;
  }
  void Dtr(int port, int level) override { record("Dtr", {port, level}); }
  void ComDelay(int handleOrPort, int count) override { record("ComDelay", {handleOrPort, count}); }
  void ClrBuf(int port) override { record("ClrBuf", {port}); }
  void ResetPort(int port, std::uint16_t handle) override { record("ResetPort", {port, handle}); }
  void DisplayPortError(std::int16_t code) override { record("DisplayPortError", {code}); }
  std::int16_t ComGetb(int port, ZField<2550>& receiveBuffer) override {
    return ComGetbUpTo(port, receiveBuffer, 2549);
  }
  std::int16_t ComGetbUpTo(int port, ZField<2550>& receiveBuffer, std::size_t most) override {
    ++getCount;
    lastGetPort = port;
    asked.push_back(most);
    receiveBuffer.clear();
    if (reads.empty()) return 0;
    std::string& next = reads.front();
    receiveBuffer = next.substr(0, std::min<std::size_t>(most, 2549));
    next.erase(0, receiveBuffer.size());
    if (next.empty()) reads.pop_front();
    return static_cast<std::int16_t>(receiveBuffer.size());
  }
  void ComPutb(int port, const char* bytes, int count) override {
    record("ComPutb " + std::string(bytes, static_cast<std::size_t>(count)), {port});
  }
  void ComPuts(int port, std::string_view text) override { record("ComPuts " + std::string(text), {port}); }

  std::uint64_t inputOverruns(int) const override { return overruns; }

  int getCount = 0;
  int lastGetPort = -1;
  std::uint64_t overruns = 0;

 private:
  void record(const std::string& name, std::initializer_list<long> args) {
    std::string call = name + "(";
    bool first = true;
    for (long a : args) {
      call += (first ? "" : ",") + std::to_string(a);
      first = false;
    }
    calls.push_back(call + ")");
  }
};

}  // namespace kelvor::testing
