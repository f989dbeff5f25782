#include "linux/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <linux/serial.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/line/serial_ports.h"
#include "core/settings/configuration.h"

namespace kelvor {
namespace {

constexpr std::size_t kMaxRead = 2549;
constexpr int kDelayUnitMs = 10;   // one ComDelay count
constexpr int kLongestDelay = 100;  // counts: a wait never freezes the program past a second

// "COM1 (/dev/ttyUSB0)", or "COM1" when no device can be named.
std::string portAndDevice(int port, const std::string& device) {
  return device.empty() ? comName(port) : comName(port) + " (" + device + ")";
}

// The error code a refused open stands for: the one place errno becomes our own error.
std::int16_t codeFor(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return TermiosSerialLibrary::kNoDevice;
    case EACCES:
    case EPERM:
    case EROFS:
      return TermiosSerialLibrary::kPermission;
    case EBUSY:
    case EWOULDBLOCK:
      return TermiosSerialLibrary::kBusy;
    case ENOTTY:
    case EISDIR:
    case ENOTDIR:
      return TermiosSerialLibrary::kNotATerminal;
    case ELOOP:
      return TermiosSerialLibrary::kLinkLoop;
    default:
      return TermiosSerialLibrary::kSystem;
  }
}

// The programs that hold `device` open, from /proc ("minicom (process 4711)"), this
// process excepted: Kelvor's own second opening is named as such by the caller.
std::string deviceOwners(const std::string& device, bool* heldBySelf) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target = fs::canonical(device, ec);
  if (ec) return {};
  const std::string self = std::to_string(getpid());
  std::string owners;
  for (const auto& process : fs::directory_iterator("/proc", ec)) {
    const std::string pid = process.path().filename();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fdError;
    for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
      std::error_code linkError;
      if (fs::read_symlink(fd.path(), linkError) != target || linkError) continue;
      if (pid == self) {
        *heldBySelf = true;
        break;
      }
      std::string command;
      std::ifstream(process.path() / "comm") >> command;
      owners += (owners.empty() ? "" : ", ") + (command.empty() ? "a program" : command) + " (process " + pid + ")";
      break;
    }
  }
  return owners;
}

speed_t speedFor(std::int16_t baudRate) {
  switch (bitsPerSecond(baudRate)) {  // 38400 arrives as -27136
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

tcflag_t dataBitsFlag(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
    default: return 0;
  }
}

bool lostDeviceError(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EBADF; }

}  // namespace

TermiosSerialLibrary::TermiosSerialLibrary(std::string iniFilePath, Notices& notices)
    : iniFilePath_(std::move(iniFilePath)), notices_(notices) {}

TermiosSerialLibrary::~TermiosSerialLibrary() {
  for (auto& [port, open] : ports_) {
    if (open.fd >= 0) ::close(open.fd);
  }
}

// Not a box that waits: a [RUN] from a DDE client would otherwise leave every other client
// without an answer until someone at the bench clicks.
void TermiosSerialLibrary::tell(const std::string& message) {
  notices_.mention({NoticeKind::Warning, "Kelvor - serial port", message});
}

std::string TermiosSerialLibrary::devicePath(int port) const {
  return comDevice(iniFilePath_, port);
}

std::int16_t TermiosSerialLibrary::fail(int port, const std::string& device, int error, std::int16_t code) {
  lastFailure_ = {code, port, device, error};
  return code;
}

std::string TermiosSerialLibrary::errorMessage(std::int16_t code) const {
  if (code != lastFailure_.code) {
    return "The serial port could not be opened (error " + std::to_string(code) + ").";
  }
  const Failure& f = lastFailure_;
  const std::string name = portAndDevice(f.port, f.device);
  const std::string where = whereToSetDevice(f.port);
  switch (code) {
    case kNoDevice:
      return name + " does not exist. Connect the instrument, or choose the device of " + comName(f.port) + " in " +
             where + ".";
    case kPermission:
      return name + " cannot be opened: permission denied. Add your user to the dialout group "
                    "(sudo usermod -aG dialout $USER), then log out and in again.";
    case kBusy: {
      // Looked up only when the message is wanted: a port retried while another program
      // holds it is refused many times and told once.
      bool heldBySelf = false;
      const std::string owner = deviceOwners(f.device, &heldBySelf);
      if (owner.empty() && heldBySelf) {
        return name + " is already open in Kelvor (reception, or the view or test window). Close it there first.";
      }
      return name + " is in use by " + (owner.empty() ? "another program" : owner) +
             ". Close that program, then start again.";
    }
    case kLinkLoop:
      return name + " is a symbolic link that leads back to itself, so it names no device. Choose the device of "
                    "this port in " + where + ".";
    case kNotATerminal:
      return name + " is not a serial port. Choose the device of this port in " + where + ".";
    case kNoPortNumber:
      return comName(f.port) + " has no device. Choose one in " + where + ".";
    default:
      return name + " cannot be opened: " + std::strerror(f.error) + ".";
  }
}

std::int16_t TermiosSerialLibrary::SetPortEx(int port, std::uint16_t, int, int writeTimeout, int useCts, int useXon,
                                             int useDtr) {
  const std::string device = devicePath(port);
  if (device.empty()) return fail(port, device, 0, kNoPortNumber);
  if (auto it = ports_.find(port); it != ports_.end() && !it->second.lost) return fail(port, device, EBUSY, kBusy);
  ports_.erase(port);

  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return fail(port, device, error, codeFor(error));
  }
  auto refuse = [&](int error) {
    ::close(fd);
    return fail(port, device, error, codeFor(error));
  };
  if (!isatty(fd)) return refuse(ENOTTY);
  // flock holds for root as well; TIOCEXCL also keeps out programs that do not lock.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return refuse(errno);
  ioctl(fd, TIOCEXCL);

  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return refuse(errno);
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag &= ~CRTSCTS;
  if (useCts == 1) settings.c_cflag |= CRTSCTS;
  settings.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (useXon == 1) settings.c_iflag |= IXON | IXOFF;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &settings) != 0) return refuse(errno);
  if (useDtr == 1) {
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &dtr);  // a pseudo-terminal has no DTR: refusal ignored
  }
  ports_[port] = OpenDevice{fd, device, writeTimeout > 0 ? writeTimeout : 1000, false, {}};
  return 0;
}

TermiosSerialLibrary::OpenDevice* TermiosSerialLibrary::openDevice(int port) {
  auto it = ports_.find(port);
  return it == ports_.end() || it->second.lost ? nullptr : &it->second;
}

std::int16_t TermiosSerialLibrary::InitPort(int port, std::int16_t baudRate, int parity, int dataBits, int stopBits) {
  OpenDevice* open = openDevice(port);
  const speed_t speed = speedFor(baudRate);
  const tcflag_t bits = dataBitsFlag(dataBits);
  if (!open || speed == B0 || bits == 0 || parity < 0 || parity > 2 || (stopBits != 1 && stopBits != 2)) return 1;

  termios settings{};
  if (tcgetattr(open->fd, &settings) != 0) return 1;
  if (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0) return 1;
  settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  settings.c_cflag |= bits;
  if (parity != 0) settings.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
  if (stopBits == 2) settings.c_cflag |= CSTOPB;
  if (tcsetattr(open->fd, TCSANOW, &settings) != 0) return 1;

  // tcsetattr succeeds when any one change took: check the rate really holds.
  termios applied{};
  if (tcgetattr(open->fd, &applied) != 0 || cfgetospeed(&applied) != speed) return 1;
  return 0;
}

void TermiosSerialLibrary::Dtr(int port, int level) {
  if (OpenDevice* open = openDevice(port)) {
    int dtr = TIOCM_DTR;
    ioctl(open->fd, level == 1 ? TIOCMBIS : TIOCMBIC, &dtr);  // ENOTTY on a pseudo-terminal: ignored
  }
}

void TermiosSerialLibrary::ComDelay(int, int count) {
  if (count > 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(count, kLongestDelay) * kDelayUnitMs));
}

void TermiosSerialLibrary::ClrBuf(int port) {
  if (OpenDevice* open = openDevice(port)) tcflush(open->fd, TCIOFLUSH);
}

void TermiosSerialLibrary::ResetPort(int port, std::uint16_t) {
  auto it = ports_.find(port);
  if (it == ports_.end()) return;
  if (it->second.fd >= 0) {
    ioctl(it->second.fd, TIOCNXCL);
    flock(it->second.fd, LOCK_UN);
    ::close(it->second.fd);
  }
  ports_.erase(it);
}

void TermiosSerialLibrary::DisplayPortError(std::int16_t code) { tell(errorMessage(code)); }

void TermiosSerialLibrary::markLost(OpenDevice& open, int error) {
  ::close(open.fd);
  open.fd = -1;
  open.lost = true;
  open.loss = {open.device, error ? std::string(std::strerror(error)) : std::string("the line hung up"),
               std::chrono::system_clock::now()};
}

SerialLibrary::PortHealth TermiosSerialLibrary::health(int port) const {
  const auto it = ports_.find(port);
  if (it == ports_.end()) return PortHealth::Closed;
  return it->second.lost ? PortHealth::Lost : PortHealth::Open;
}

SerialLibrary::PortLoss TermiosSerialLibrary::loss(int port) const {
  const auto it = ports_.find(port);
  return it != ports_.end() && it->second.lost ? it->second.loss : PortLoss{};
}

std::int16_t TermiosSerialLibrary::ComGetb(int port, ZField<2550>& receiveBuffer) {
  return ComGetbUpTo(port, receiveBuffer, kMaxRead);
}

std::int16_t TermiosSerialLibrary::ComGetbUpTo(int port, ZField<2550>& receiveBuffer, std::size_t most) {
  receiveBuffer.clear();
  OpenDevice* open = openDevice(port);
  if (!open) return 0;
  most = std::clamp<std::size_t>(most, 1, kMaxRead);
  char bytes[kMaxRead];
  std::size_t got = 0;
  while (got < most) {
    const ssize_t n = ::read(open->fd, bytes + got, most - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int error = n < 0 ? errno : 0;
    if (n < 0 && !lostDeviceError(error)) break;  // EAGAIN: nothing more for now
    if (n == 0) {
      // Raw mode returns 0 when nothing waits; a hung-up line says so through poll.
      pollfd check{open->fd, POLLIN, 0};
      if (::poll(&check, 1, 0) <= 0 || !(check.revents & (POLLHUP | POLLERR | POLLNVAL))) break;
    }
    receiveBuffer.assign(std::string_view(bytes, got));
    markLost(*open, error);
    return static_cast<std::int16_t>(got);
  }
  receiveBuffer.assign(std::string_view(bytes, got));
  return static_cast<std::int16_t>(got);
}

std::uint64_t TermiosSerialLibrary::inputOverruns(int port) const {
  const auto it = ports_.find(port);
  if (it == ports_.end() || it->second.fd < 0) return 0;
  // Serial drivers count the characters their hardware and their buffer could not keep; a
  // pseudo-terminal counts nothing (its writer waits instead).
  serial_icounter_struct counts{};
  if (::ioctl(it->second.fd, TIOCGICOUNT, &counts) != 0) return 0;
  return static_cast<std::uint64_t>(counts.overrun) + static_cast<std::uint64_t>(counts.buf_overrun);
}

void TermiosSerialLibrary::writeAll(int port, const char* bytes, std::size_t count) {
  OpenDevice* open = openDevice(port);
  if (!open) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(open->writeTimeoutMs);
  while (count > 0) {
    const ssize_t n = ::write(open->fd, bytes, count);
    if (n > 0) {
      bytes += n;
      count -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return;  // the callers ignore send failures; a lost line shows at the next read
    // Output is full (flow control held by the instrument): wait for room, not forever.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd room{open->fd, POLLOUT, 0};
    ::poll(&room, 1, static_cast<int>(left.count()));
  }
}

void TermiosSerialLibrary::ComPutb(int port, const char* bytes, int count) {
  if (count > 0) writeAll(port, bytes, static_cast<std::size_t>(count));
}

void TermiosSerialLibrary::ComPuts(int port, std::string_view text) {
  writeAll(port, text.data(), text.substr(0, text.find('\0')).size());
}

}  // namespace kelvor
