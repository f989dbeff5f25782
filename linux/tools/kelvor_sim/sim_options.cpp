#include "linux/tools/kelvor_sim/sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace kelvor::sim {
namespace {

// Numbers are finite; "inf", "nan" and values out of range are not numbers here.
bool parseNumber(const std::string& text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && errno != ERANGE && std::isfinite(value);
}

ParseOutcome usage(std::string problem) { return {ParseOutcome::kUsage, std::move(problem)}; }

// The options that take a value; any other word is a usage error.
bool takesValue(const std::string& name) {
  for (const char* known : {"--link", "--format", "--terminator", "--unit", "--interval", "--rate", "--length",
                            "--decimals", "--start", "--step", "--count", "--linger", "--burst"}) {
    if (name == known) return true;
  }
  return false;
}

bool parseFormat(const std::string& value, Format& format) {
  static const std::pair<const char*, Format> kNames[] = {{"plain", Format::kPlain},
                                                         {"unit", Format::kUnit},
                                                         {"fixed", Format::kFixed},
                                                         {"record", Format::kRecord},
                                                         {"counter", Format::kCounter}};
  for (const auto& [name, named] : kNames) {
    if (value == name) {
      format = named;
      return true;
    }
  }
  return false;
}

}  // namespace

const char kHelp[] =
    "Usage: kelvor-sim [OPTIONS]\n"
    "A simulated measuring instrument on a pseudo-terminal. Prints the device path on the\n"
    "first line of its output; put it in KELVOR.INI, section [PORTS] (COM1=/dev/pts/N), or\n"
    "use --link for a path that stays the same across restarts.\n"
    "\n"
    "  --link PATH        also make PATH a symbolic link to the device (removed at exit)\n"
    "  --interval MS      a reading every MS milliseconds (default 1000; 0: as fast as the\n"
    "                     line takes them)\n"
    "  --rate N           N readings per second (instead of --interval)\n"
    "  --burst N          N readings together in one write each time (default 1), as an\n"
    "                     instrument behind a buffering converter delivers them\n"
    "  --answer           send one reading in answer to each line received (a line ends at\n"
    "                     CR or LF) instead of sending at a rate\n"
    "  --format F         plain    12.50\n"
    "                     unit     +012.50 g (default)\n"
    "                     fixed    the unit form blank-padded or cut to --length characters\n"
    "                     record   the structured records of keystroke output, in turn:\n"
    "                              measurement, result, comment, skipped\n"
    "                     counter  the reading's number and the unit: 0000000 g, 0000001 g,\n"
    "                              ... (every reading differs, so a lost one shows)\n"
    "  --terminator T     cr (default), lf, crlf, none, or a text with \\r \\n \\t escapes;\n"
    "                     the fixed format defaults to none\n"
    "  --unit U           unit text of the unit, fixed and counter formats (default g)\n"
    "  --length N         characters per fixed record (default 12)\n"
    "  --decimals N       decimals of the value (default 2)\n"
    "  --start X          the first reading (default 12.5)\n"
    "  --step X           each reading climbs by X, twenty times, then starts again (0.05)\n"
    "  --count N          send N readings, then exit\n"
    "  --once             the same as --count 1\n"
    "  --linger MS        with --count: keep the device open MS milliseconds after the last\n"
    "                     reading (default 1000), so the reader gets it before the hang-up\n"
    "  -h, --help         this text\n"
    "  -v, --version      the version\n"
    "\n"
    "Stops on SIGINT or SIGTERM. Exit status: 0 done, 1 no pseudo-terminal or link, 2 usage.\n";

ParseOutcome parseOptions(const std::vector<std::string>& args, SimOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") return {ParseOutcome::kHelp, {}};
    if (name == "--answer") {
      options.answer = true;
      continue;
    }
    if (name == "--version" || name == "-v") return {ParseOutcome::kVersion, {}};
    if (name == "--once") {
      options.count = 1;
      continue;
    }
    if (!takesValue(name)) return usage("unknown option " + name);
    if (i + 1 >= args.size()) return usage("option " + name + " needs a value");
    const std::string& value = args[++i];
    double number = 0;
    const bool numeric = parseNumber(value, number);
    if (name == "--link") {
      options.link = value;
    } else if (name == "--format") {
      if (!parseFormat(value, options.frame.format)) return usage("unknown format " + value);
    } else if (name == "--terminator") {
      if (!parseTerminator(value, options.frame.terminator)) return usage("empty terminator");
      options.terminatorGiven = true;
    } else if (name == "--unit") {
      options.frame.unit = value;
    } else if (!numeric) {
      return usage("option " + name + " needs a number, not " + value);
    } else if (name == "--interval" && number >= 0 && number <= kLongestMs) {
      options.intervalMs = static_cast<long>(number);
    } else if (name == "--rate" && number >= 1000 / kLongestMs) {
      options.intervalMs = static_cast<long>(1000 / number);
    } else if (name == "--length" && number >= 1 && number <= kLongestRecord) {
      options.frame.length = static_cast<int>(number);
    } else if (name == "--decimals" && number >= 0 && number <= 9) {
      options.frame.decimals = static_cast<int>(number);
    } else if (name == "--start") {
      options.frame.start = number;
    } else if (name == "--step") {
      options.frame.step = number;
    } else if (name == "--count" && number >= 0 && number <= kMostReadings) {
      options.count = static_cast<long>(number);
    } else if (name == "--burst" && number >= 1 && number <= kLargestBurst) {
      options.burst = static_cast<long>(number);
    } else if (name == "--linger" && number >= 0 && number <= kLongestMs) {
      options.lingerMs = static_cast<long>(number);
    } else {
      return usage("value " + value + " out of range for " + name);
    }
  }
  if (options.frame.format == Format::kFixed && !options.terminatorGiven) options.frame.terminator.clear();
  return {};
}

}  // namespace kelvor::sim
