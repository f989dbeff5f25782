#include "linux/tools/kelvor_sim/sim_frames.h"

#include <cstdio>

namespace kelvor::sim {
namespace {

// printf formatting into a text as long as the number needs: a large --start gives a long
// reading, never a cut one.
template <typename... Args>
std::string formatted(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.pop_back();
  return text;
}

std::string padTo(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// The records of keystroke output, in turn: measurement, result, comment, skipped.
std::string record(const FrameOptions& options, long index) {
  char number[8];
  std::snprintf(number, sizeof number, "%03ld", index % 1000);
  switch (index % 4) {
    case 0: {  // characters 5-19: label and value; 20-21: the unit
      const std::string value = formatted("%.*f", options.decimals, readingValue(options, index));
      // A value wider than its field pushes the unit right rather than cutting the label.
      const std::size_t label = value.size() < 12 ? 15 - value.size() : 3;
      return std::string(number) + " " + padTo("DIA", label) + value + padTo(options.unit, 2);
    }
    case 1: {  // character 6 "+": a result; character 21 "=" good, "-" reject, "+" rework
      const char verdict = "=-+"[(index / 4) % 3];
      return std::string(number) + "  +PART " + padTo(std::to_string(4700 + index), 8) + " " + verdict;
    }
    case 2:  // characters 5-7 "CMT": a comment
      return std::string(number) + " CMT batch " + std::to_string(index / 4 + 1) + " checked";
    default:  // character 4 "*": a record that is not typed
      return std::string(number) + "*";
  }
}

}  // namespace

double readingValue(const FrameOptions& options, long index) { return options.start + options.step * (index % 20); }

std::string frameBytes(const FrameOptions& options, long index) {
  const double value = readingValue(options, index);
  std::string text;
  switch (options.format) {
    case Format::kPlain:
      text = formatted("%.*f", options.decimals, value);
      break;
    case Format::kUnit:
    case Format::kFixed: {
      // Sign, three integer digits, the point and the decimals: "+012.50 g".
      text = formatted("%+0*.*f", 5 + options.decimals, options.decimals, value) +
             (options.unit.empty() ? "" : " " + options.unit);
      if (options.format == Format::kFixed) text = padTo(text, static_cast<std::size_t>(options.length));
      break;
    }
    case Format::kRecord:
      text = record(options, index);
      break;
    case Format::kCounter:
      text = formatted("%07ld", index) + (options.unit.empty() ? "" : " " + options.unit);
      break;
  }
  return text + options.terminator;
}

bool parseTerminator(const std::string& text, std::string& terminator) {
  if (text == "cr") terminator = "\r";
  else if (text == "lf") terminator = "\n";
  else if (text == "crlf") terminator = "\r\n";
  else if (text == "none") terminator.clear();
  else if (text.empty()) return false;
  else {
    terminator.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\\' || i + 1 == text.size()) {
        terminator += text[i];
        continue;
      }
      const char c = text[++i];
      terminator += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
  }
  return true;
}

}  // namespace kelvor::sim
