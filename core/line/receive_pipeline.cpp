#include "core/line/receive_pipeline.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <system_error>

namespace kelvor {
namespace {

constexpr std::size_t kBufferCapacity = 2549;  // characters frameBuffer can hold
constexpr std::size_t kBacklogBound = 255;     // characters kept after a frame
constexpr std::size_t kConvertWidth = 39;      // characters the value conversion reads
constexpr int kSignificantDigits = 14;

// How the settings cut frames: at a terminator (end character or end string), after a
// fixed count, or not at all.
struct FrameRule {
  enum Kind { kNone, kTerminator, kCount } kind = kNone;
  std::string terminator;
  std::size_t count = 0;
};

FrameRule frameRule(const Configuration& config) {
  FrameRule rule;
  switch (config.SELECTENDOF) {
    case 1:
      if (config.ENDOFCHAR == 1) rule.terminator = "\r";
      if (config.ENDOFCHAR == 2) rule.terminator = "\r\n";
      break;
    case 2:
      if (config.NUMBEROFBYTE > 0) {
        rule.kind = FrameRule::kCount;
        rule.count = static_cast<std::size_t>(config.NUMBEROFBYTE);
      }
      return rule;
    case 3:
      rule.terminator = config.ENDOFSTRING.trimmed();
      break;
    default:
      return rule;
  }
  if (!rule.terminator.empty()) rule.kind = FrameRule::kTerminator;
  return rule;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string lastChars(std::string_view text, std::size_t n) {
  return std::string(text.substr(text.size() - std::min(n, text.size())));
}

// Text was dropped and the stream now stands inside a frame: skip the rest of that frame
// as it arrives. `dropped` is what was thrown away, for a terminator split across reads.
void startTerminatorResync(FrameResync& resync, const FrameRule& rule, std::string_view dropped) {
  resync.active = true;
  resync.tail = lastChars(dropped, rule.terminator.size() - 1);
}

// Removes from the front of `incoming` what belongs to a frame that lost its middle.
std::string_view skipBrokenFrame(const FrameRule& rule, FrameResync& resync, std::string_view incoming) {
  if (!resync.active) return incoming;
  if (rule.kind == FrameRule::kCount) {
    const auto skip = std::min<std::size_t>(static_cast<std::size_t>(std::max(resync.count, 0)), incoming.size());
    resync.count -= static_cast<std::int32_t>(skip);
    if (resync.count <= 0) resync = {};
    return incoming.substr(skip);
  }
  if (rule.kind == FrameRule::kTerminator) {
    const std::string joined = resync.tail + std::string(incoming);
    const auto pos = joined.find(rule.terminator);
    if (pos == std::string::npos) {
      resync.tail = lastChars(joined, rule.terminator.size() - 1);
      return {};
    }
    // The tail is shorter than the terminator, so the match always ends inside `incoming`.
    const std::size_t consumed = pos + rule.terminator.size() - resync.tail.size();
    resync = {};
    return incoming.substr(consumed);
  }
  resync = {};  // the settings changed to a mode without frames: nothing to align to
  return incoming;
}

// The buffer would pass its capacity: drop the oldest characters, as whole frames, so that
// reception goes on with fresh data instead of stopping for good.
void makeRoom(const FrameRule& rule, FrameResync& resync, std::string& text) {
  const std::size_t excess = text.size() - kBufferCapacity;
  if (rule.kind == FrameRule::kNone) {
    text.erase(0, excess);
    return;
  }
  if (rule.kind == FrameRule::kCount) {
    const std::size_t drop = (excess + rule.count - 1) / rule.count * rule.count;
    if (drop <= text.size()) {
      text.erase(0, drop);
    } else {
      resync.active = true;
      resync.count = static_cast<std::int32_t>(drop - text.size());
      text.clear();
    }
    return;
  }
  // The first frame boundary at or after `excess`: a terminator ending there or later.
  const std::size_t m = rule.terminator.size();
  const auto pos = text.find(rule.terminator, excess > m ? excess - m : 0);
  if (pos != std::string::npos) {
    text.erase(0, pos + m);
  } else {
    startTerminatorResync(resync, rule, text);
    text.clear();
  }
}

// Whether `text` holds a whole frame, which the next cut takes.
bool holdsFrame(const FrameRule& rule, std::string_view text) {
  if (rule.kind == FrameRule::kCount) return text.size() >= rule.count;
  if (rule.kind == FrameRule::kTerminator) return text.find(rule.terminator) != std::string_view::npos;
  return false;
}

// What stays after a frame is bounded to 255 characters of an unfinished frame. Whole frames
// waiting behind it are kept: the poll cuts them next, and the port holds what did not fit.
std::string boundBacklog(const FrameRule& rule, FrameResync& resync, std::string rest) {
  if (rest.size() <= kBacklogBound || holdsFrame(rule, rest)) return rest;
  std::size_t keep = 0;
  if (rule.kind == FrameRule::kCount) {
    keep = kBacklogBound / rule.count * rule.count;
    const std::size_t partial = rest.size() % rule.count;
    if (partial != 0) {
      resync.active = true;
      resync.count = static_cast<std::int32_t>(rule.count - partial);
    }
  } else {
    const std::size_t m = rule.terminator.size();
    if (m <= kBacklogBound) {
      const auto pos = rest.rfind(rule.terminator, kBacklogBound - m);
      if (pos != std::string::npos) keep = pos + m;
    }
    const std::string_view dropped = std::string_view(rest).substr(keep);
    if (!endsWith(dropped, rule.terminator)) startTerminatorResync(resync, rule, dropped);
  }
  rest.resize(keep);
  return rest;
}

void setFrameBuffer(Reception& reception, std::string text) {
  reception.frameBuffer = text;
  reception.frameBufferLength = static_cast<std::int32_t>(reception.frameBuffer.size());
}

// The longest prefix of `text` that reads as a decimal number: optional sign, digits with
// an optional point, and an exponent only when digits follow it. Empty when no digit.
std::string_view numberPrefix(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  auto isDigit = [&](std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
  while (isDigit(i)) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (isDigit(i)) ++i, ++digits;
  }
  if (digits == 0) return {};
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (isDigit(j)) {
      while (isDigit(j)) ++j;
      i = j;
    }
  }
  return text.substr(0, i);
}

}  // namespace

std::string convertValue(std::string_view text) {
  std::string cut = trimRight(text);
  cut.resize(std::min(cut.size(), kConvertWidth));
  std::string_view rest(cut);
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  std::string_view number = numberPrefix(rest);
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);

  // A value beyond the range of a number (only an exponent gets there) reads as 0.
  double value = 0;
  if (std::from_chars(number.data(), number.data() + number.size(), value).ec != std::errc()) value = 0;
  if (value == 0) value = 0;  // "-0.00" reads as minus zero; the user sees 0
  char out[64];
  const auto result = std::to_chars(out, out + sizeof out, value, std::chars_format::general, kSignificantDigits);
  return std::string(out, result.ptr);
}

Text<2550> filterAndConvert(const Configuration& config, const Text<2550>& rawFrame) {
  Text<2550> frame = rawFrame;
  if (config.LENFILTERENABLE == 1) {
    frame = substring(frame.padded(), config.LENFILTERSTART, config.LENFILTEREND);
  }
  if (config.ENABLECONVERTVALUE == 1) frame = convertValue(frame.padded());
  return frame;
}

void appendReceived(const Configuration& config, Reception& reception, std::string_view bytes) {
  const FrameRule rule = frameRule(config);
  bytes = skipBrokenFrame(rule, reception.resync, bytes);
  std::string text = reception.frameBuffer.str();
  text.append(bytes);
  if (text.size() > kBufferCapacity) makeRoom(rule, reception.resync, text);
  setFrameBuffer(reception, std::move(text));
}

bool readPort(const Configuration& config, Reception& reception, SerialLibrary& library) {
  // Only what the buffer has room for is taken; the rest waits in the port. A buffer filled
  // by one frame longer than it can hold takes a full read, and its oldest text goes.
  const auto held = std::min<std::size_t>(reception.frameBuffer.size(), kBufferCapacity);
  std::size_t room = kBufferCapacity - held;
  if (room == 0) {
    if (holdsFrame(frameRule(config), reception.frameBuffer.str())) {
      reception.portStatus = 0;
      reception.receiveBuffer.clear();
      return false;
    }
    room = kBufferCapacity;
  }
  reception.portStatus = library.ComGetbUpTo(config.PORT, reception.receiveBuffer, room);
  if (reception.portStatus <= 0) return false;
  const auto count = std::min<std::size_t>(static_cast<std::size_t>(reception.portStatus),
                                           reception.receiveBuffer.size());
  appendReceived(config, reception, std::string_view(reception.receiveBuffer.str()).substr(0, count));
  return true;
}

void resyncAfterGap(const Configuration& config, Reception& reception) {
  reception.clearBuffers();
  const FrameRule rule = frameRule(config);
  if (rule.kind == FrameRule::kTerminator) startTerminatorResync(reception.resync, rule, {});
}

bool cutFrame(const Configuration& config, Reception& reception) {
  const FrameRule rule = frameRule(config);
  const std::string& text = reception.frameBuffer.str();
  std::size_t frameEnd = 0;   // characters of the frame itself
  std::size_t restStart = 0;  // where what follows the frame begins
  if (rule.kind == FrameRule::kTerminator) {
    const auto pos = text.find(rule.terminator);
    if (pos == std::string::npos) return false;
    frameEnd = pos;
    restStart = pos + rule.terminator.size();
  } else if (rule.kind == FrameRule::kCount) {
    if (text.size() < rule.count) return false;
    frameEnd = restStart = rule.count;
  } else {
    return false;
  }
  reception.rawFrame = std::string_view(text).substr(0, frameEnd);
  setFrameBuffer(reception, boundBacklog(rule, reception.resync, text.substr(restStart)));
  return true;
}

bool cutAndConvert(const Configuration& config, Reception& reception) {
  if (!cutFrame(config, reception)) return false;
  reception.currentFrame = filterAndConvert(config, reception.rawFrame);
  if (config.ENABLECLEAR == 1) {
    reception.frameBuffer.clear();
    reception.receiveBuffer.clear();
    reception.frameBufferLength = 0;
  }
  return true;
}

void poll(const Configuration& config, Reception& reception, SerialLibrary& library, const PollHooks& hooks) {
  if (reception.isRunning != 1) return;
  if (hooks.showLamps) hooks.showLamps(true, false);
  if (readPort(config, reception, library) && hooks.showLamps) hooks.showLamps(true, true);
  // Every whole frame the buffer holds, in order: after a stall the poll catches up instead
  // of leaving readings to pile up. A delivery may stop reception ([STOP] cannot run inside
  // a tick, but a lost device can): the loop looks again each time.
  while (reception.isRunning == 1 && cutAndConvert(config, reception)) {
    if (hooks.deliver) hooks.deliver(reception.rawFrame, reception.currentFrame);
  }
  if (hooks.showLamps) hooks.showLamps(false, false);
}

}  // namespace kelvor
