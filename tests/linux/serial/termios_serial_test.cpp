// The real termios library against pseudo-terminals: what the program relies on from a
// port (raw bytes, exclusive opening, a device that vanishes) checked on a real tty.
#include "linux/serial_port.h"
#include "tests/core/recording_notices.h"
#include "tests/linux/serial/pty.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/settings/profile_file.h"

namespace kelvor {
namespace {

using testing::Pty;

// Reads until `count` bytes arrived or half a second passed (the pty hands input over
// asynchronously).
std::string readAtLeast(SerialLibrary& library, int port, std::size_t count, std::vector<int>* chunks = nullptr) {
  std::string got;
  ZField<2550> buffer;
  for (int tries = 0; tries < 250 && got.size() < count; ++tries) {
    const int n = library.ComGetb(port, buffer);
    if (n > 0) {
      got += buffer.str().substr(0, static_cast<std::size_t>(n));
      if (chunks) chunks->push_back(n);
    } else {
      usleep(2000);
    }
  }
  return got;
}

struct Rig {
  std::string ini = ::testing::TempDir() + "/kelvor_termios_" + std::to_string(getpid()) + ".ini";
  Pty pty;
  RecordingNotices notices;
  TermiosSerialLibrary library{ini, notices};

  Rig() { writeProfileString(ini, "PORTS", "COM1", pty.slave); }
  std::vector<std::string> messages() const { return notices.texts(); }
  ~Rig() {
    library.ResetPort(0, 0);
    std::remove(ini.c_str());
  }
  std::int16_t open() { return library.SetPortEx(0, 0, 1000, 1000, 0, 0, 0); }
};

TEST(TermiosSerial, BytesArriveExactlyAsSent) {
  Rig rig;
  ASSERT_EQ(rig.open(), 0);
  const std::string sent("12.5\r\n\x03\x1a\x7f" "a\0b\x11\x13\xff", 15);
  rig.pty.send(sent);
  EXPECT_EQ(readAtLeast(rig.library, 0, sent.size()), sent);  // a CR stays a CR, ^C is data
}

TEST(TermiosSerial, TextsGoOutUntranslated) {
  Rig rig;
  ASSERT_EQ(rig.open(), 0);
  rig.library.ComPuts(0, "PRINT\r\n");
  rig.library.ComPutb(0, "\n", 1);
  std::string got;
  for (int i = 0; i < 5 && got.size() < 8; ++i) got += rig.pty.receive();
  EXPECT_EQ(got, "PRINT\r\n\n");
}

TEST(TermiosSerial, AReadNeverDeliversMoreThan2549Bytes) {
  Rig rig;
  ASSERT_EQ(rig.open(), 0);
  const std::string sent(3000, 'x');
  rig.pty.send(sent);
  std::vector<int> chunks;
  EXPECT_EQ(readAtLeast(rig.library, 0, sent.size(), &chunks).size(), sent.size());
  for (int n : chunks) EXPECT_LE(n, 2549);
}

TEST(TermiosSerial, AReadWithNothingWaitingReturnsAtOnce) {
  Rig rig;
  ASSERT_EQ(rig.open(), 0);
  ZField<2550> buffer("stale");
  EXPECT_EQ(rig.library.ComGetb(0, buffer), 0);
  EXPECT_TRUE(buffer.empty());
}

TEST(TermiosSerial, ASecondOpeningOfTheSameDeviceIsRefused) {
  Rig rig;
  ASSERT_EQ(rig.open(), 0);
  // Another COM number naming the same device, in another library instance.
  writeProfileString(rig.ini, "PORTS", "COM2", rig.pty.slave);
  TermiosSerialLibrary other(rig.ini, rig.notices);
  EXPECT_EQ(other.SetPortEx(1, 0, 1000, 1000, 0, 0, 0), TermiosSerialLibrary::kBusy);
  EXPECT_NE(other.errorMessage(TermiosSerialLibrary::kBusy).find("already open in Kelvor"), std::string::npos);
  // The same port again in the same library.
  EXPECT_EQ(rig.open(), TermiosSerialLibrary::kBusy);
  // Released, it opens again.
  rig.library.ResetPort(0, 0);
  EXPECT_EQ(other.SetPortEx(1, 0, 1000, 1000, 0, 0, 0), 0);
  other.ResetPort(1, 0);
}

TEST(TermiosSerial, ADeviceHeldByAnotherProgramIsRefusedNamingIt) {
  Rig rig;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    const int fd = ::open(rig.pty.slave.c_str(), O_RDWR | O_NOCTTY);
    flock(fd, LOCK_EX);
    (void)!::write(ready[1], "1", 1);
    pause();
    _exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(rig.open(), TermiosSerialLibrary::kBusy);  // refused even as root: flock holds
  const std::string message = rig.library.errorMessage(TermiosSerialLibrary::kBusy);
  EXPECT_NE(message.find("process " + std::to_string(child)), std::string::npos) << message;
  EXPECT_NE(message.find("COM1 (" + rig.pty.slave + ")"), std::string::npos) << message;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(rig.open(), 0);
}

TEST(TermiosSerial, AVanishedDeviceIsReleasedAndReportsItselfLost) {
  Rig rig;
  ASSERT_EQ(rig.open(), 0);
  EXPECT_EQ(rig.library.health(0), SerialLibrary::PortHealth::Open);
  rig.pty.send("7.5\r");
  EXPECT_EQ(readAtLeast(rig.library, 0, 4), "7.5\r");
  rig.pty.closeMaster();
  ZField<2550> buffer;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(rig.library.ComGetb(0, buffer), 0);
  // No box: reception decides what the user sees.
  EXPECT_TRUE(rig.messages().empty());
  EXPECT_EQ(rig.library.health(0), SerialLibrary::PortHealth::Lost);
  EXPECT_EQ(rig.library.loss(0).device, rig.pty.slave);
  EXPECT_FALSE(rig.library.loss(0).cause.empty());
  // Sending to a vanished device is harmless.
  rig.library.ComPuts(0, "x");
  rig.library.ClrBuf(0);
  rig.library.Dtr(0, 1);
  rig.library.ResetPort(0, 0);
  EXPECT_EQ(rig.library.health(0), SerialLibrary::PortHealth::Closed);

  // The instrument comes back on a new pseudo-terminal under the same [PORTS] entry.
  Pty back;
  writeProfileString(rig.ini, "PORTS", "COM1", back.slave);
  ASSERT_EQ(rig.open(), 0);
  back.send("8\r");
  EXPECT_EQ(readAtLeast(rig.library, 0, 2), "8\r");
}

TEST(TermiosSerial, LineSettingsAreSetAndImpossibleOnesRefused) {
  Rig rig;
  ASSERT_EQ(rig.open(), 0);
  EXPECT_EQ(rig.library.InitPort(0, keepWidth<std::int16_t>(38400), 2, 7, 2), 0);
  const int probe = ::open(rig.pty.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (probe >= 0) {  // TIOCEXCL keeps a non-root probe out; root sees the settings
    termios t{};
    ASSERT_EQ(tcgetattr(probe, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B38400);
    // A pseudo-terminal forces 8 data bits and no parity; the rest shows.
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR));
    ::close(probe);
  }
  // The rates beyond 38400 arrive as their low 16 bits, as KELVOR.KLV holds them.
  const std::pair<int, speed_t> faster[] = {{57600, B57600}, {115200, B115200}, {230400, B230400}};
  for (const auto& [rate, speed] : faster) {
    EXPECT_EQ(rig.library.InitPort(0, static_cast<std::int16_t>(rate & 0xFFFF), 0, 8, 1), 0) << rate;
    const int look = ::open(rig.pty.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (look < 0) continue;
    termios t{};
    EXPECT_EQ(tcgetattr(look, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed) << rate;
    ::close(look);
  }
  // A never-loaded configuration: 0 bits per second, 0 data bits, 0 stop bits.
  EXPECT_NE(rig.library.InitPort(0, 0, 0, 0, 0), 0);
  EXPECT_NE(rig.library.InitPort(0, 1234, 0, 8, 1), 0);
  EXPECT_NE(rig.library.InitPort(0, 9600, 3, 8, 1), 0);
  EXPECT_NE(rig.library.InitPort(1, 9600, 0, 8, 1), 0);  // not open
  rig.library.Dtr(0, 1);  // refused by the pseudo-terminal, ignored
  rig.library.Dtr(0, 0);
}

struct OpenFailureCase {
  const char* behaviour;
  std::string device;  // "" = no [PORTS] entry
  int port;
  std::int16_t code;
  std::string messagePart;
  friend void PrintTo(const OpenFailureCase& c, std::ostream* os) { *os << c.behaviour; }
};

class OpenFailure : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailure, IsExplainedWithItsFix) {
  const OpenFailureCase& c = GetParam();
  const std::string ini = ::testing::TempDir() + "/kelvor_termios_fail_" + std::to_string(getpid()) + ".ini";
  std::remove(ini.c_str());
  if (!c.device.empty()) writeProfileString(ini, "PORTS", "COM" + std::to_string(c.port + 1), c.device);
  if (c.code == TermiosSerialLibrary::kLinkLoop) {
    std::remove(c.device.c_str());
    ASSERT_EQ(symlink(c.device.c_str(), c.device.c_str()), 0);
  }
  RecordingNotices notices;
  TermiosSerialLibrary library(ini, notices);
  EXPECT_EQ(library.SetPortEx(c.port, 0, 1000, 1000, 0, 0, 0), c.code);
  library.DisplayPortError(c.code);
  const std::vector<std::string> shown = notices.texts();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find(c.messagePart), std::string::npos) << shown[0];
  EXPECT_EQ(notices.entries[0].rfind("mention ", 0), 0u) << "the box must not hold the program";
  std::remove(ini.c_str());
  if (c.code == TermiosSerialLibrary::kLinkLoop) std::remove(c.device.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenFailure,
    ::testing::Values(
        OpenFailureCase{"missing device", "/dev/kelvor-no-such-device", 0, TermiosSerialLibrary::kNoDevice,
                        "COM1 (/dev/kelvor-no-such-device) does not exist"},
        OpenFailureCase{"missing device points at the device window", "/dev/kelvor-no-such-device", 2,
                        TermiosSerialLibrary::kNoDevice,
                        "choose the device of COM3 in the \"Serial devices\" window of the menu"},
        OpenFailureCase{"a regular file", "/etc/hostname", 0, TermiosSerialLibrary::kNotATerminal,
                        "COM1 (/etc/hostname) is not a serial port"},
        OpenFailureCase{"a directory", "/tmp", 0, TermiosSerialLibrary::kNotATerminal, "is not a serial port"},
        OpenFailureCase{"a port number beyond COM8 without entry", "", 11, TermiosSerialLibrary::kNoPortNumber,
                        "COM12 has no device"},
        OpenFailureCase{"a negative port number", "", -1, TermiosSerialLibrary::kNoPortNumber, "has no device"},
        OpenFailureCase{"a symbolic link loop", ::testing::TempDir() + "/kelvor-loop-link", 0,
                        TermiosSerialLibrary::kLinkLoop, "kelvor-loop-link) is a symbolic link that leads back to itself"}));

TEST(TermiosSerial, PortsWithoutEntryUseTheStandardDevices) {
  RecordingNotices notices;
  TermiosSerialLibrary library(::testing::TempDir() + "/kelvor-no-such.ini", notices);
  EXPECT_EQ(library.devicePath(0), "/dev/ttyS0");
  EXPECT_EQ(library.devicePath(7), "/dev/ttyS7");
  EXPECT_EQ(library.devicePath(8), "");
}

TEST(TermiosSerial, PermissionDeniedNamesTheDialoutGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens any device";
  const std::string ini = ::testing::TempDir() + "/kelvor_termios_perm_" + std::to_string(getpid()) + ".ini";
  const std::string device = ::testing::TempDir() + "/kelvor_locked_device_" + std::to_string(getpid());
  FILE* f = std::fopen(device.c_str(), "w");
  std::fclose(f);
  chmod(device.c_str(), 0);
  writeProfileString(ini, "PORTS", "COM1", device);
  RecordingNotices notices;
  TermiosSerialLibrary library(ini, notices);
  EXPECT_EQ(library.SetPortEx(0, 0, 1000, 1000, 0, 0, 0), TermiosSerialLibrary::kPermission);
  EXPECT_NE(library.errorMessage(TermiosSerialLibrary::kPermission).find("dialout"), std::string::npos);
  std::remove(device.c_str());
  std::remove(ini.c_str());
}

}  // namespace
}  // namespace kelvor
