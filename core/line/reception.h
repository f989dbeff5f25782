#pragma once
// The reception fields: what the port delivered, the frame being cut, and the value handed
// on to DDE clients. One instance lives for the whole run; the run control empties it when
// reception starts, [CLEARBUF] and the test window when they begin afresh.

#include <cstdint>
#include <string>

#include "core/toolkit/text.h"

namespace kelvor {

// The windows that can drive the port, as `portWindowHandle` names them.
enum PortWindowHandle : std::uint16_t {
  kMainWindowHandle = 1,
  kViewWindowHandle = 2,
  kTestWindowHandle = 3,
};

// Set when received text had to be dropped in the middle of a frame (the backlog bound or
// a full buffer): the characters still to come up to the next frame boundary belong to a
// frame that lost its middle, so they are skipped instead of being delivered as a reading.
struct FrameResync {
  bool active = false;
  std::int32_t count = 0;  // byte-count mode: characters still to skip
  std::string tail;        // end-character and end-string modes: the last characters
                           // skipped, so a terminator split across two reads is found
};

// What DDE clients are offered of a frame: at most 127 characters, never a split one, UTF-8
// inside Kelvor. Each desk's transport writes it in its own code page (Windows-1252 on
// Windows, one byte a character, so the client's CF_TEXT holds 127 characters too).
using OfferedValue = ZField<128, Fit::Characters>;

struct Reception {
  ZField<2550> frameBuffer;       // received characters not yet cut into a frame
  ZField<2550> receiveBuffer;     // the bytes of the latest read
  std::int32_t frameBufferLength = 0;
  std::int16_t portStatus = 0;    // result of the latest SetPortEx or ComGetb
  std::uint16_t portWindowHandle = 0;  // the window that drives the port now
  Text<2550> rawFrame;            // the frame as cut out of the buffer
  Text<2550> currentFrame;        // the frame after filter and conversion
  OfferedValue requestValue;      // what ManualData and AutoData carry
  std::uint8_t isRunning = 0;     // 1 while reception runs
  std::uint8_t waitState = 0;     // 0 idle, 1 waiting for a frame, 2 answer due
  FrameResync resync;             // kept by the receive pipeline between reads

  // Empties what is held between reads: both buffers, and a pending skip of the rest of a
  // broken frame, which would otherwise swallow the first whole frame after the clearing.
  // The frames and requestValue are each caller's to blank.
  void clearBuffers() {
    frameBufferLength = 0;
    frameBuffer.clear();
    receiveBuffer.clear();
    resync = {};
  }

  // What DDE clients are offered of the latest frame: its first 127 characters.
  void offerCurrentFrame() { requestValue = currentFrame.padded(); }
};

}  // namespace kelvor
