// The receive pipeline on any byte stream, read in any pieces, in every framing mode.
//
// Input layout: byte 0 SELECTENDOF (0-4, so that modes without framing are tried too),
// byte 1 ENDOFCHAR (0-3), bytes 2-3 NUMBEROFBYTE (signed, little-endian), byte 4 flags
// (1 ENABLECLEAR, 2 LENFILTERENABLE, 4 ENABLECONVERTVALUE, 8 SENDORREQUEST, 16 the settings
// change half-way), bytes 5 and 6 LENFILTERSTART and LENFILTEREND (signed), byte 7 seeds
// the read sizes, byte 8 how often the stream repeats (1-8), byte 9 the length of
// ENDOFSTRING (0-30) followed by its characters; the rest is the stream.
//
// After every poll: frameBufferLength equals the characters held, the buffer holds at most
// 2549 characters and at most 255 after a frame was cut, the DDE value at most 127. Where
// the settings stay and the buffer is never cleared, every reading delivered is a whole
// frame of the stream, in order: nothing is delivered corrupted when text has to be dropped.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/settings/configuration.h"
#include "fuzz/fuzz_support.h"
#include "core/line/receive_pipeline.h"
#include "core/line/reception.h"
#include "core/line/serial_library.h"
#include "core/toolkit/encoding.h"

namespace {

// The line: hands out the stream in pieces of pseudo-random size, at most what the library
// promises (2549 bytes), sometimes nothing.
class ScriptedLine : public kelvor::SerialLibrary {
 public:
  ScriptedLine(std::string stream, std::uint8_t seed) : stream_(std::move(stream)), state_(seed * 2654435761u + 1) {
    largest_ = (seed & 3) == 0 ? 2549 : (seed & 3) == 1 ? 600 : 24;
  }
  bool exhausted() const { return at_ >= stream_.size(); }

  std::int16_t ComGetb(int port, kelvor::ZField<2550>& receiveBuffer) override {
    return ComGetbUpTo(port, receiveBuffer, 2549);
  }
  // As a port does, it keeps what the pipeline asks it not to hand out yet for the next read.
  std::int16_t ComGetbUpTo(int, kelvor::ZField<2550>& receiveBuffer, std::size_t most) override {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    std::size_t n = state_ % (largest_ + 1);
    n = std::min({n, stream_.size() - at_, most});
    receiveBuffer = std::string_view(stream_).substr(at_, n);
    at_ += n;
    return static_cast<std::int16_t>(n);
  }
  std::int16_t SetPortEx(int, std::uint16_t, int, int, int, int, int) override { return 0; }
  std::int16_t InitPort(int, std::int16_t, int, int, int) override { return 0; }
  void Dtr(int, int) override {}
  void ComDelay(int, int) override {}
  void ClrBuf(int) override {}
  void ResetPort(int, std::uint16_t) override {}
  void DisplayPortError(std::int16_t) override {}
  void ComPutb(int, const char*, int) override {}
  void ComPuts(int, std::string_view) override {}

 private:
  std::string stream_;
  std::uint32_t state_;
  std::size_t largest_;
  std::size_t at_ = 0;
};

// A terminator that can overlap itself ("aa", "abab") has no single way to be found again
// after a drop, so the whole-frame check leaves such end strings out.
bool overlapsItself(std::string_view t) {
  for (std::size_t n = 1; n < t.size(); ++n) {
    if (t.substr(0, n) == t.substr(t.size() - n)) return true;
  }
  return false;
}

// The frames of the whole stream as the settings cut them, or nothing when the check does
// not apply to these settings.
bool wholeFrames(const kelvor::Configuration& c, std::string_view stream, std::vector<std::string>& frames) {
  if (c.SELECTENDOF == 2) {
    if (c.NUMBEROFBYTE <= 0 || c.NUMBEROFBYTE > 2549) return false;
    const auto n = static_cast<std::size_t>(c.NUMBEROFBYTE);
    for (std::size_t at = 0; at + n <= stream.size(); at += n) frames.emplace_back(stream.substr(at, n));
    return true;
  }
  std::string terminator;
  if (c.SELECTENDOF == 1) terminator = c.ENDOFCHAR == 1 ? "\r" : c.ENDOFCHAR == 2 ? "\r\n" : "";
  if (c.SELECTENDOF == 3) terminator = c.ENDOFSTRING.trimmed();
  if (terminator.empty() || overlapsItself(terminator)) return false;
  for (auto at = stream.find(terminator); at != std::string_view::npos; at = stream.find(terminator)) {
    frames.emplace_back(stream.substr(0, at));
    stream.remove_prefix(at + terminator.size());
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 10) return 0;
  kelvor::Configuration config;
  config.SELECTENDOF = data[0] % 5;
  config.ENDOFCHAR = data[1] % 4;
  config.NUMBEROFBYTE = static_cast<std::int16_t>(data[2] | (data[3] << 8));
  const std::uint8_t flags = data[4];
  config.ENABLECLEAR = flags & 1;
  config.LENFILTERENABLE = (flags >> 1) & 1;
  config.ENABLECONVERTVALUE = (flags >> 2) & 1;
  config.SENDORREQUEST = (flags >> 3) & 1;
  const bool settingsChange = flags & 16;
  config.LENFILTERSTART = static_cast<std::int8_t>(data[5]);
  config.LENFILTEREND = static_cast<std::int8_t>(data[6]);
  config.ENABLESENDKEY = 1;
  const std::size_t endLength = std::min<std::size_t>(data[9] % 31, size - 10);
  config.ENDOFSTRING = std::string_view(reinterpret_cast<const char*>(data) + 10, endLength);
  const std::string_view piece(reinterpret_cast<const char*>(data) + 10 + endLength, size - 10 - endLength);
  std::string stream;
  for (int i = 0; i < 1 + data[8] % 8; ++i) stream += piece;

  std::vector<std::string> expected;
  const bool checkFrames = !settingsChange && config.ENABLECLEAR == 0 && wholeFrames(config, stream, expected);

  ScriptedLine line(stream, data[7]);
  kelvor::Reception reception;
  reception.clearBuffers();
  reception.isRunning = 1;
  std::size_t nextFrame = 0;  // the first frame of the stream a delivered reading may be
  bool cut = false;
  // Checks each reading the poll hands on as it is delivered, and offers it as the desk does.
  kelvor::PollHooks hooks;
  hooks.deliver = [&](const kelvor::Text<2550>&, const kelvor::Text<2550>& currentFrame) {
    if (config.SENDORREQUEST == 0) reception.offerCurrentFrame();
    cut = true;
    FUZZ_CHECK(currentFrame.padded().size() == 2550, "a frame of %zu characters", currentFrame.padded().size());
    const std::size_t rawLength = reception.rawFrame.trimmed().size();
    FUZZ_CHECK(rawLength <= 2549, "a reading of %zu characters", rawLength);
    FUZZ_CHECK(config.SELECTENDOF != 2 || rawLength <= static_cast<std::size_t>(config.NUMBEROFBYTE),
               "a reading of %zu characters in records of %d", rawLength, config.NUMBEROFBYTE);
    if (!checkFrames) return;
    const std::string& raw = reception.rawFrame.padded();
    while (nextFrame < expected.size() && kelvor::padRight(expected[nextFrame], 2550) != raw) ++nextFrame;
    FUZZ_CHECK(nextFrame < expected.size(), "delivered \"%s\", not a whole frame of the stream in order",
               reception.rawFrame.trimmed().c_str());
    ++nextFrame;
  };

  // Polls while there is something to read, then until the backlog is delivered.
  for (int polls = 0;; ++polls) {
    if (settingsChange && polls == 8) {
      config.SELECTENDOF = (config.SELECTENDOF + 1) % 5;
      config.NUMBEROFBYTE = config.NUMBEROFBYTE / 2 + 1;
      config.ENDOFCHAR = 3 - config.ENDOFCHAR % 4;
    }
    cut = false;
    kelvor::poll(config, reception, line, hooks);
    FUZZ_CHECK(reception.frameBufferLength == static_cast<std::int32_t>(reception.frameBuffer.size()),
               "frameBufferLength %d, %zu characters held", reception.frameBufferLength, reception.frameBuffer.size());
    FUZZ_CHECK(reception.frameBuffer.size() <= 2549, "%zu characters held", reception.frameBuffer.size());
    FUZZ_CHECK(!cut || reception.frameBuffer.size() <= 255, "%zu characters kept after a frame",
               reception.frameBuffer.size());
    const std::string& value = reception.requestValue.str();
    FUZZ_CHECK(kelvor::isValidUtf8(value), "a DDE value that is not UTF-8 (%zu bytes)", value.size());
    FUZZ_CHECK(kelvor::codePoints(value).size() <= 127, "a DDE value of %zu characters",
               kelvor::codePoints(value).size());
    if (line.exhausted() && !cut) break;
  }
  return 0;
}
