// The simulated instrument: its formats, and kelvor-sim driving the real library and the
// receive pipeline through a pseudo-terminal in each framing mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/settings/profile_file.h"
#include "linux/serial_port.h"
#include "tests/core/recording_notices.h"
#include "core/line/port_control.h"
#include "core/line/receive_pipeline.h"
#include "linux/tools/kelvor_sim/sim_frames.h"

namespace kelvor {
namespace {

using sim::Format;
using sim::FrameOptions;

struct FormatCase {
  const char* name;
  Format format;
  std::string terminator;
  long index;
  std::string expected;
  friend void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }
};

class SimFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SimFormat, SendsReadingsAsInstrumentsDo) {
  const FormatCase& c = GetParam();
  FrameOptions options;
  options.format = c.format;
  options.terminator = c.terminator;
  EXPECT_EQ(sim::frameBytes(options, c.index), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimFormat,
    ::testing::Values(FormatCase{"plain", Format::kPlain, "\r", 0, "12.50\r"},
                      FormatCase{"unit, sign and zero padding", Format::kUnit, "\r\n", 1, "+012.55 g\r\n"},
                      FormatCase{"readings climb twenty steps then repeat", Format::kPlain, "", 20, "12.50"},
                      FormatCase{"fixed length, blank padded", Format::kFixed, "", 0, "+012.50 g   "},
                      FormatCase{"measurement record", Format::kRecord, "\r", 0, "000 DIA       12.50g \r"},
                      FormatCase{"result record", Format::kRecord, "\r", 1, "001  +PART 4701     =\r"},
                      FormatCase{"the second result is a reject", Format::kRecord, "", 5, "005  +PART 4705     -"},
                      FormatCase{"comment record", Format::kRecord, "\r", 2, "002 CMT batch 1 checked\r"},
                      FormatCase{"skipped record", Format::kRecord, "\r", 3, "003*\r"},
                      FormatCase{"counter: the reading's number", Format::kCounter, "\r", 123, "0000123 g\r"}));

TEST(SimFormat, TerminatorNamesAndEscapes) {
  std::string t;
  EXPECT_TRUE(sim::parseTerminator("crlf", t));
  EXPECT_EQ(t, "\r\n");
  EXPECT_TRUE(sim::parseTerminator("END\\r", t));
  EXPECT_EQ(t, "END\r");
  EXPECT_TRUE(sim::parseTerminator("none", t));
  EXPECT_EQ(t, "");
  EXPECT_FALSE(sim::parseTerminator("", t));
}

// A reading wider than its format's field comes out whole: never cut, never a crash.
TEST(SimFormat, AWideReadingComesOutWhole) {
  FrameOptions options;
  options.start = 1e20;
  options.terminator = "";
  const std::string digits = "100000000000000000000.00";
  options.format = Format::kUnit;
  EXPECT_EQ(sim::frameBytes(options, 0), "+" + digits + " g");
  options.format = Format::kPlain;
  options.decimals = 9;
  EXPECT_EQ(sim::frameBytes(options, 0), "100000000000000000000.000000000");
  options.decimals = 2;
  options.format = Format::kRecord;
  EXPECT_EQ(sim::frameBytes(options, 0), "000 DIA" + digits + "g ");
}

// kelvor-sim as a child process.
struct Simulator {
  pid_t pid = -1;
  std::string device;

  explicit Simulator(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      ::close(out[0]);
      std::vector<char*> argv{const_cast<char*>(KELVOR_SIM_PATH)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(KELVOR_SIM_PATH, argv.data());
      _exit(127);
    }
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') device += c;
    ::close(out[0]);
  }
  // SIGTERM, and the exit status.
  int stop() {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Simulator() { stop(); }
};

// Values the simulator cannot honour are usage errors (status 2), not a simulator that
// runs with a wrapped-around interval or count.
TEST(SimOptions, RefusesNumbersOutOfRange) {
  const std::vector<std::vector<std::string>> cases = {
      {"--interval", "1e300"}, {"--interval", "inf"}, {"--rate", "1e-300"}, {"--length", "1e12"},
      {"--count", "1e300"},    {"--linger", "1e300"}, {"--start", "nan"},   {"--step", "1e999"},
  };
  for (const auto& args : cases) {
    Simulator simulator(args);
    EXPECT_EQ(simulator.device, "") << args[0] << " " << args[1] << " started a simulator";
    EXPECT_EQ(simulator.stop(), 2) << args[0] << " " << args[1];
  }
}

// Fails the test for anything told to the user; the busy notice is fine.
class NoNotices : public RecordingNotices {
 public:
  void tell(const Notice& notice) override { ADD_FAILURE() << notice.caption << ": " << notice.text; }
  void mention(const Notice& notice) override { tell(notice); }
};

struct ModeCase {
  const char* name;
  std::vector<std::string> simArgs;
  Configuration config;
  FrameOptions sent;  // what the simulator sends, for the expected frames
  friend void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }
};

Configuration mode(std::uint8_t select, std::uint8_t endOfChar, std::int32_t count, std::string_view endString,
                   std::uint8_t convert) {
  Configuration c;
  c.BAUDRATE = 9600;
  c.DATABITS = 8;
  c.STOPBITS = 1;
  c.SELECTENDOF = select;
  c.ENDOFCHAR = endOfChar;
  c.NUMBEROFBYTE = count;
  c.ENDOFSTRING = endString;
  c.ENABLECONVERTVALUE = convert;
  return c;
}

class SimulatedInstrument : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SimulatedInstrument, ReadingsArriveThroughThePipeline) {
  const ModeCase& c = GetParam();
  const std::string dir = ::testing::TempDir() + "/kelvor_sim_" + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  const std::string link = dir + "/instrument";
  const std::string ini = dir + "/KELVOR.INI";
  std::vector<std::string> args{"--link", link, "--interval", "15"};
  args.insert(args.end(), c.simArgs.begin(), c.simArgs.end());
  Simulator sim(args);
  ASSERT_FALSE(sim.device.empty());
  writeProfileString(ini, "PORTS", "COM1", link);

  NoNotices notices;
  TermiosSerialLibrary library(ini, notices);
  Configuration config = c.config;
  Language language;
  Reception reception;
  reception.portWindowHandle = 1;
  PortContext port{config, language, reception, library, notices};
  openPort(port);
  ASSERT_EQ(reception.portStatus, 0);
  reception.clearBuffers();
  reception.isRunning = 1;

  std::vector<std::string> frames;
  PollHooks hooks;
  // What the poll delivers, trailing blanks removed.
  hooks.deliver = [&frames](const Text<2550>&, const Text<2550>& value) { frames.push_back(value.trimmed()); };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (frames.size() < 6 && std::chrono::steady_clock::now() < deadline) {
    poll(config, reception, library, hooks);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  closePort(port);

  ASSERT_GE(frames.size(), 6u) << c.name;
  // The simulator started before the port opened and the buffers were cleared, so the
  // first reading seen may be any of its cycle of twenty; from there they follow in order,
  // one per frame, each framed, filtered and converted whole.
  auto expected = [&](long index) {
    FrameOptions plain = c.sent;
    plain.terminator.clear();
    const Text<2550> raw(sim::frameBytes(plain, index));
    return filterAndConvert(config, raw).trimmed();
  };
  long first = 0;
  while (first < 20 && expected(first) != frames[0]) ++first;
  ASSERT_LT(first, 20) << c.name << ": unexpected first frame \"" << frames[0] << "\"";
  for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i], expected(first + static_cast<long>(i))) << c.name;
  EXPECT_EQ(sim.stop(), 0);
  struct stat info {};
  EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link outlived the simulator";
  std::remove(ini.c_str());
  rmdir(dir.c_str());
}

// Consecutive readings climb by 0.05, so two in a row identify the format and the framing.
INSTANTIATE_TEST_SUITE_P(
    Modes, SimulatedInstrument,
    ::testing::Values(
        ModeCase{"CR, converted", {"--format", "unit"}, mode(1, 1, 0, "", 1), {Format::kUnit}},
        ModeCase{"CR LF, raw", {"--format", "unit", "--terminator", "crlf"}, mode(1, 2, 0, "", 0), {Format::kUnit}},
        ModeCase{"byte count", {"--format", "fixed", "--length", "10"}, mode(2, 0, 10, "", 0),
                 [] {
                   FrameOptions o;
                   o.format = Format::kFixed;
                   o.length = 10;
                   return o;
                 }()},
        ModeCase{"end string", {"--format", "plain", "--terminator", "<END>"}, mode(3, 0, 0, "<END>   ", 0),
                 {Format::kPlain}}));

}  // namespace
}  // namespace kelvor
