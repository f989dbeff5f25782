#include "core/diagnostics/view_log.h"

#include <algorithm>
#include <limits>

#include "core/toolkit/encoding.h"

namespace kelvor {

void ViewLog::append(std::string_view bytes) {
  if (viewText_.size() < kTextCapacity) {
    viewText_.append(bytes.substr(0, kTextCapacity - viewText_.size()));
  }
  const auto count = static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), std::numeric_limits<std::int32_t>::max()));
  viewCount_ = viewCount_ > std::numeric_limits<std::int32_t>::max() - count
                   ? std::numeric_limits<std::int32_t>::max()
                   : viewCount_ + count;
  byteTable_.reserve(byteTable_.size() + bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    byteTable_.push_back(ByteRow{static_cast<std::int32_t>(i + 1), bytes[i], byte});
  }
}

void ViewLog::clearText() {
  viewText_.clear();
  viewCount_ = 0;
}

void ViewLog::clearTable() { byteTable_.clear(); }

std::string byteLabel(unsigned char byte) {
  static const char* const kNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                         "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                         "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                         "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
  if (byte < 32) return kNames[byte];
  if (byte == 32) return "SP";
  if (byte == 127) return "DEL";
  if (byte < 128) return std::string(1, static_cast<char>(byte));
  // A single byte above 127 is never valid UTF-8, so it reads as Windows-1252.
  return displayText(std::string(1, static_cast<char>(byte)));
}

namespace {

// A control character as its name in angle brackets ("<NUL>"), as the table names it. The
// Unicode control pictures would say the same, but common desktop fonts have no glyphs
// for them.
void appendControlName(std::string& out, unsigned char byte) {
  out += '<';
  out += byteLabel(byte);
  out += '>';
}

// The length of the UTF-8 character that `lead` begins, or 0 when it begins none.
std::size_t utf8Length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The running text as UTF-8. The 1000-character cut may fall inside a UTF-8 character;
// that unfinished character alone must not turn the whole text into Windows-1252.
std::string runningUtf8(std::string_view bytes) {
  for (std::size_t drop = 1; drop <= 3 && drop <= bytes.size(); ++drop) {
    const auto lead = static_cast<unsigned char>(bytes[bytes.size() - drop]);
    if (utf8Length(lead) > drop) {
      const std::string_view whole = bytes.substr(0, bytes.size() - drop);
      if (isValidUtf8(whole)) return displayText(whole);
      break;
    }
    if ((lead & 0xC0) != 0x80) break;
  }
  return displayText(bytes);
}

}  // namespace

std::string displayFrameText(std::string_view bytes) {
  const std::string utf8 = displayText(bytes);
  std::string out;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) {
      appendControlName(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string displayRunningText(std::string_view bytes) {
  // Control bytes are never part of a longer UTF-8 character, so they can be replaced after
  // the text has become UTF-8.
  const std::string utf8 = runningUtf8(bytes);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte == '\r') {
      out += '\n';
      if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
    } else if (byte == '\n' || byte == '\t') {
      out += static_cast<char>(byte);
    } else if (byte < 32 || byte == 127) {
      appendControlName(out, byte);
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

}  // namespace kelvor
