#pragma once
// What the simulated instrument sends: its readings in the formats real instruments use,
// each followed by the chosen terminator. Plain logic, so the formats can be tested
// without a pseudo-terminal.

#include <string>

namespace kelvor::sim {

enum class Format {
  kPlain,   // "12.50"
  kUnit,    // "+012.50 g": sign, zero-padded value, unit (a balance)
  kFixed,   // the unit form cut or blank-padded to a fixed length (byte-count framing)
  kRecord,  // the structured records of keystroke output: measurement, result, comment, skip
  kCounter, // "0000123 g": the reading's number and the unit, so a lost or doubled one shows
};

struct FrameOptions {
  Format format = Format::kUnit;
  std::string terminator = "\r";
  std::string unit = "g";
  int length = 12;       // kFixed: characters per record
  int decimals = 2;
  double start = 12.5;   // the first reading
  double step = 0.05;    // readings climb by this, twenty steps, then start again
};

// The value of the reading numbered `index` (0, 1, ...).
double readingValue(const FrameOptions& options, long index);

// The bytes of reading `index`, terminator included.
std::string frameBytes(const FrameOptions& options, long index);

// "cr", "lf", "crlf", "none", or a literal text in which \r, \n, \t and \\ are escapes.
// Returns false for an empty text.
bool parseTerminator(const std::string& text, std::string& terminator);

}  // namespace kelvor::sim
