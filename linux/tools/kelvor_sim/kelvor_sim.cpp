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
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kelvor_build.h"
#include "linux/tools/kelvor_sim/sim_frames.h"
#include "linux/tools/kelvor_sim/sim_options.h"

namespace {

using kelvor::sim::ParseOutcome;
using kelvor::sim::SimOptions;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

int usage(const std::string& problem) {
  std::fprintf(stderr, "kelvor-sim: %s (usage: kelvor-sim [OPTIONS]; see kelvor-sim --help)\n", problem.c_str());
  return 2;
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

long run(const SimOptions& options, const Terminal& terminal) {
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
    std::string bytes;
    long together = 0;
    for (; together < options.burst && (options.count < 0 || sent + together < options.count); ++together)
      bytes += kelvor::sim::frameBytes(options.frame, sent + together);
    if (!sendReading(terminal, bytes)) {
      // Nobody reads and the line is full: wait for room rather than spin.
      pollfd room{terminal.master, POLLOUT, 0};
      ::poll(&room, 1, 20);
    }
    sent += together;
    due += interval;
    if (due < Clock::now() - std::chrono::seconds(1)) due = Clock::now();  // do not catch up after a stall
  }
  return sent;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  const ParseOutcome outcome = kelvor::sim::parseOptions(std::vector<std::string>(argv + 1, argv + argc), options);
  switch (outcome.kind) {
    case ParseOutcome::kHelp:
      std::fputs(kelvor::sim::kHelp, stdout);
      return 0;
    case ParseOutcome::kVersion:
      std::printf("kelvor-sim %s\n", KELVOR_VERSION);
      return 0;
    case ParseOutcome::kUsage:
      return usage(outcome.problem);
    case ParseOutcome::kRun:
      break;
  }

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
