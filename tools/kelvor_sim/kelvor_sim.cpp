// kelvor-sim: a simulated instrument on a pseudo-terminal, for demos and tests. It prints
// the device to put in [PORTS] of KELVOR.INI and sends readings like a simple balance or
// caliper: at a fixed rate, or in answer to each line it receives.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kelvor_build.h"
#include "tools/kelvor_sim/sim_frames.h"

namespace {

using kelvor::sim::Format;
using kelvor::sim::FrameOptions;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

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
    "  --answer           send one reading in answer to each line received (a line ends at\n"
    "                     CR or LF) instead of sending at a rate\n"
    "  --format F         plain    12.50\n"
    "                     unit     +012.50 g (default)\n"
    "                     fixed    the unit form blank-padded or cut to --length characters\n"
    "                     record   the structured records of keystroke output, in turn:\n"
    "                              measurement, result, comment, skipped\n"
    "  --terminator T     cr (default), lf, crlf, none, or a text with \\r \\n \\t escapes;\n"
    "                     the fixed format defaults to none\n"
    "  --unit U           unit text of the unit and fixed formats (default g)\n"
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

struct Options {
  FrameOptions frame;
  bool terminatorGiven = false;
  std::string link;
  long intervalMs = 1000;
  bool answer = false;
  long count = -1;  // -1: until stopped
  long lingerMs = 1000;
};

int usage(const std::string& problem) {
  std::fprintf(stderr, "kelvor-sim: %s (usage: kelvor-sim [OPTIONS]; see kelvor-sim --help)\n", problem.c_str());
  return 2;
}

// The options that take a value; any other word is a usage error.
bool takesValue(const std::string& name) {
  for (const char* known : {"--link", "--format", "--terminator", "--unit", "--interval", "--rate", "--length",
                            "--decimals", "--start", "--step", "--count", "--linger"}) {
    if (name == known) return true;
  }
  return false;
}

// Numbers are finite; "inf", "nan" and values out of range are not numbers here.
bool parseNumber(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && errno != ERANGE && std::isfinite(value);
}

// The longest interval, linger and count the simulator takes: a day, and a count that any
// run ends before. Larger values would overflow the clock and the integer fields.
constexpr double kLongestMs = 24.0 * 3600 * 1000;
constexpr double kMostReadings = 1e15;
constexpr double kLongestRecord = 65536;

// Returns -1 when the options are good, else the exit status.
int parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (name == "--answer") {
      options.answer = true;
      continue;
    }
    if (name == "--version" || name == "-v") {
      std::printf("kelvor-sim %s\n", KELVOR_VERSION);
      return 0;
    }
    if (name == "--once") {
      options.count = 1;
      continue;
    }
    if (!takesValue(name)) return usage("unknown option " + name);
    if (i + 1 >= argc) return usage("option " + name + " needs a value");
    const std::string value = argv[++i];
    double number = 0;
    const bool numeric = parseNumber(value.c_str(), number);
    if (name == "--link") {
      options.link = value;
    } else if (name == "--format") {
      if (value == "plain") options.frame.format = Format::kPlain;
      else if (value == "unit") options.frame.format = Format::kUnit;
      else if (value == "fixed") options.frame.format = Format::kFixed;
      else if (value == "record") options.frame.format = Format::kRecord;
      else return usage("unknown format " + value);
    } else if (name == "--terminator") {
      if (!kelvor::sim::parseTerminator(value, options.frame.terminator)) return usage("empty terminator");
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
    } else if (name == "--linger" && number >= 0 && number <= kLongestMs) {
      options.lingerMs = static_cast<long>(number);
    } else {
      return usage("value " + value + " out of range for " + name);
    }
  }
  if (options.frame.format == Format::kFixed && !options.terminatorGiven) options.frame.terminator.clear();
  return -1;
}

// The pseudo-terminal: the simulator writes to the master side; the slave is the device
// Kelvor opens. The simulator keeps the slave open as well, in raw mode, so the line stays
// raw and up while Kelvor closes and reopens it.
struct Terminal {
  int master = -1;
  int slave = -1;
  std::string path;

  bool open() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    const char* name = ptsname(master);
    if (name == nullptr) return false;
    path = name;
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return false;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return true;
  }
};

// A reading goes out whole or not at all: when nobody reads and the line is full, it is
// dropped, as an instrument's output would be lost on a disconnected cable.
bool sendReading(const Terminal& terminal, const std::string& bytes) {
  std::size_t done = 0;
  for (int tries = 0; done < bytes.size() && tries < 100 && !stopRequested; ++tries) {
    const ssize_t n = ::write(terminal.master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (done == 0) {
      return false;  // full: drop this reading
    } else {
      pollfd room{terminal.master, POLLOUT, 0};
      ::poll(&room, 1, 10);
    }
  }
  return done == bytes.size();
}

bool makeLink(const std::string& link, const std::string& target) {
  struct stat info {};
  if (lstat(link.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      std::fprintf(stderr, "kelvor-sim: %s exists and is not a symbolic link; not replaced\n", link.c_str());
      return false;
    }
    ::unlink(link.c_str());
  }
  if (::symlink(target.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "kelvor-sim: cannot create the link %s: %s\n", link.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

void removeLink(const std::string& link, const std::string& target) {
  char pointsTo[4096];
  const ssize_t n = ::readlink(link.c_str(), pointsTo, sizeof pointsTo - 1);
  if (n > 0 && std::string(pointsTo, static_cast<std::size_t>(n)) == target) ::unlink(link.c_str());
}

long run(const Options& options, const Terminal& terminal) {
  using Clock = std::chrono::steady_clock;
  const auto interval = std::chrono::milliseconds(options.intervalMs);
  auto due = Clock::now();
  long sent = 0;
  std::string line;
  while (!stopRequested && (options.count < 0 || sent < options.count)) {
    int timeout = 200;
    if (!options.answer) {
      timeout = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count());
      if (timeout < 0) timeout = 0;
    }
    pollfd incoming{terminal.master, POLLIN, 0};
    if (::poll(&incoming, 1, timeout) > 0 && (incoming.revents & POLLIN)) {
      char bytes[512];
      const ssize_t n = ::read(terminal.master, bytes, sizeof bytes);
      for (ssize_t i = 0; i < n && options.answer; ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') {
          line += bytes[i];
        } else if (!line.empty()) {  // CR LF ends one line, not two
          line.clear();
          sendReading(terminal, kelvor::sim::frameBytes(options.frame, sent++));
        }
      }
    }
    if (options.answer || Clock::now() < due) continue;
    if (!sendReading(terminal, kelvor::sim::frameBytes(options.frame, sent))) {
      // Nobody reads and the line is full: wait for room rather than spin.
      pollfd room{terminal.master, POLLOUT, 0};
      ::poll(&room, 1, 20);
    }
    ++sent;
    due += interval;
    if (due < Clock::now() - std::chrono::seconds(1)) due = Clock::now();  // do not catch up after a stall
  }
  return sent;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = parseOptions(argc, argv, options); status >= 0) return status;

  Terminal terminal;
  if (!terminal.open()) {
    std::fprintf(stderr, "kelvor-sim: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  if (!options.link.empty() && !makeLink(options.link, terminal.path)) return 1;

  struct sigaction stop {};
  stop.sa_handler = requestStop;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::printf("%s\n", terminal.path.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "kelvor-sim: instrument on %s%s%s\n", terminal.path.c_str(),
               options.link.empty() ? "" : " (link ", options.link.empty() ? "" : (options.link + ")").c_str());

  run(options, terminal);
  if (!stopRequested && options.count >= 0 && options.lingerMs > 0) {
    pollfd none{-1, 0, 0};
    ::poll(&none, 0, static_cast<int>(options.lingerMs));
  }
  if (!options.link.empty()) removeLink(options.link, terminal.path);
  ::close(terminal.slave);
  ::close(terminal.master);
  return 0;
}
