#pragma once
// The receive pipeline: turns the bytes polled from the port into frames, filters and
// converts each frame, and hands it to the desk, which passes it on (core/desk/desk.h).
// Plain logic over the reception record: no widgets, no clock.
//
// What it promises:
// - frameBufferLength always equals the number of characters frameBuffer really holds;
//   zero bytes from the line are data like any other byte.
// - A poll reads only what the buffer has room for; the rest waits in the port. It then
//   cuts and delivers every whole frame the buffer holds, in order, so that after a stall
//   of the desk it catches up without losing a reading.
// - No reading is delivered corrupted. Text is only ever dropped as whole frames; when
//   an unfinished frame passes the backlog bound (255 characters after a frame) or fills
//   the buffer (2549 characters), the rest of that frame is skipped as it arrives.
// - A NUMBEROFBYTE of 0 or less, an ENDOFCHAR other than 1 or 2, an all-blank
//   ENDOFSTRING or a SELECTENDOF other than 1 to 3 cuts no frames.
//
// The main window's tick calls poll(); the test window reuses readPort() and
// cutAndConvert() on the same records, so both cut frames with the same code.

#include <functional>
#include <string>
#include <string_view>

#include "core/settings/configuration.h"
#include "core/line/reception.h"
#include "core/line/serial_library.h"
#include "core/toolkit/text.h"

namespace kelvor {

// What the poll tells the desk around it. Every hook may be left empty.
struct PollHooks {
  // The two lamps of the main window: green while a poll runs, red in addition while a
  // poll that received bytes runs; both off at the end of the poll. The window repaints
  // here.
  std::function<void(bool green, bool red)> showLamps;
  // A delivered reading: the frame as it was cut (rawFrame) and its value after the filter
  // and the conversion (currentFrame), once each, in the order they arrived.
  std::function<void(const Text<2550>& frame, const Text<2550>& value)> deliver;
};

// One step of the desk's tick: does nothing unless isRunning is 1; otherwise reads the port
// once, then cuts and delivers every whole frame held.
void poll(const Configuration& config, Reception& reception, SerialLibrary& library,
          const PollHooks& hooks = {});

// Reads the port once (portStatus = ComGetbUpTo the buffer's room) and appends what arrived
// to frameBuffer. Returns true when bytes arrived.
bool readPort(const Configuration& config, Reception& reception, SerialLibrary& library);

// Appends the bytes of one read to frameBuffer: skips what belongs to a broken frame,
// makes room by dropping the oldest whole frames when the buffer would pass 2549
// characters, and keeps frameBufferLength equal to the buffer's size.
void appendReceived(const Configuration& config, Reception& reception, std::string_view bytes);

// Cuts at most one frame from frameBuffer into rawFrame by the end-of-frame mode; an
// unfinished frame of more than 255 characters left behind is dropped (whole frames
// stay). Returns true when a frame was cut.
bool cutFrame(const Configuration& config, Reception& reception);

// The line had a gap (the device went away): what is held belongs to a frame whose end
// never came, and what arrives first after the gap may be the end of a frame whose start
// was lost. Both are dropped: the buffers are emptied and, where frames end at a
// terminator, reception skips to the next one. A byte count has no mark to align to, so
// counting starts afresh with the first byte after the gap.
void resyncAfterGap(const Configuration& config, Reception& reception);

// The length filter (LENFILTERENABLE) and the value conversion (ENABLECONVERTVALUE)
// applied to a cut frame: what becomes currentFrame.
Text<2550> filterAndConvert(const Configuration& config, const Text<2550>& rawFrame);

// The value conversion on its own: the text (trailing blanks removed, cut to 39
// characters) read as a decimal number and written back with at most 14 significant
// digits and no trailing point; "+012.50 mm" gives "12.5", text without a number "0".
std::string convertValue(std::string_view text);

// Delivery steps shared by the main window and the test window: cuts one frame, copies it
// to currentFrame through filterAndConvert, and empties the buffers when ENABLECLEAR is 1.
// Returns true when a frame was cut. requestValue, keystrokes and waitState are not touched.
bool cutAndConvert(const Configuration& config, Reception& reception);

}  // namespace kelvor
