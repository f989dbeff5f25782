// A running port whose device goes away and comes back: the real termios library on
// pseudo-terminals reached through a link (as kelvor-sim --link offers one), the real
// inotify watch and receive pipeline, a clock the test moves.
#include "core/line/port_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "linux/device_watch.h"
#include "core/settings/profile_file.h"
#include "linux/serial_port.h"
#include "core/line/receive_pipeline.h"
#include "tests/core/recording_notices.h"
#include "tests/linux/serial/pty.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

using testing::Pty;

struct RecordingView : RunView {
  void showRunning(bool) override {}
  void setMenuEnabled(bool) override {}
  void showPortAway(const std::string& description) override { shown.push_back(description); }
  std::vector<std::string> shown;
};

int openDescriptors() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

struct Rig {
  fs::path folder = fs::path(::testing::TempDir()) / ("kelvor_watch_" + std::to_string(getpid()));
  fs::path link = folder / "instrument";
  std::string ini = (folder / "KELVOR.INI").string();
  std::unique_ptr<Pty> pty = std::make_unique<Pty>();
  Configuration config;
  Language language;
  Reception reception;
  RecordingNotices notices;
  TermiosSerialLibrary library{ini, notices};
  PortContext port{config, language, reception, library, notices};
  InotifyDeviceWatch deviceWatch;
  RecordingView view;
  std::chrono::steady_clock::time_point now{};
  PortWatch watch{port, deviceWatch, view, [this] { return now; }};

  Rig() {
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::create_symlink(pty->slave, link);
    writeProfileString(ini, "PORTS", "COM1", link.string());
    config.AUTO = 0;
    config.BAUDRATE = 9600;
    config.DATABITS = 8;
    config.STOPBITS = 1;
    config.SELECTENDOF = 1;
    config.ENDOFCHAR = 1;
    reception.isRunning = 1;
  }
  ~Rig() {
    watch.runStopped();
    closePort(port);
    fs::remove_all(folder);
  }
  void start() {
    openPort(port);
    reception.clearBuffers();
    watch.runStarted();
  }
  // The device comes back as a new pseudo-terminal under the same link.
  void plugIn() {
    pty = std::make_unique<Pty>();
    replaceLink(pty->slave);
  }
  void replaceLink(const fs::path& target) {
    fs::remove(link);
    fs::create_symlink(target, link);
  }
  // The main window's tick, repeated for about `ms` of polling time (the pty hands bytes
  // over asynchronously, so each tick also waits a little).
  void ticks(int count = 10) {
    // The desk offers each delivered reading as the DDE value.
    PollHooks hooks;
    hooks.deliver = [this](const Text<2550>&, const Text<2550>&) { reception.offerCurrentFrame(); };
    for (int i = 0; i < count; ++i) {
      poll(config, reception, library, hooks);
      watch.tick();
      usleep(2000);
    }
  }
  std::string value() const { return trimRight(reception.requestValue.str()); }
  std::vector<std::string> lines() const { return notices.entries; }
};

TEST(PortWatch, AVanishedDeviceIsToldOnceAndReadsGoOnWhenItIsBack) {
  Rig rig;
  rig.start();
  rig.pty->send("1.5\r2.");
  rig.ticks();
  ASSERT_EQ(rig.value(), "1.5");

  rig.pty->closeMaster();
  rig.ticks();
  ASSERT_TRUE(rig.watch.isAway());
  ASSERT_EQ(rig.lines().size(), 1u);
  EXPECT_EQ(rig.lines()[0].rfind("note Kelvor - serial port: COM1 (" + rig.link.string() + ") stopped answering", 0), 0u)
      << rig.lines()[0];
  ASSERT_EQ(rig.view.shown.size(), 1u);
  EXPECT_NE(rig.view.shown[0].find("COM1 (" + rig.link.string() + "): no device since "), std::string::npos);
  EXPECT_NE(rig.view.shown[0].find("stopped answering"), std::string::npos);
  // DDE clients keep the value they had while the device is away.
  EXPECT_EQ(rig.value(), "1.5");

  // Back under the same link: reopened at once, without waiting for the retry.
  rig.plugIn();
  rig.ticks(1);
  EXPECT_FALSE(rig.watch.isAway());
  ASSERT_EQ(rig.lines().size(), 2u);
  EXPECT_EQ(rig.lines()[1], "note Kelvor - serial port: COM1 (" + rig.link.string() + ") is back: reception goes on.");
  EXPECT_EQ(rig.view.shown.back(), "");

  // "2." before the gap and "5" after it are two halves of nothing: never a reading. (The
  // bytes are there at the first poll after the reopening, as from an instrument that
  // streams; a line quiet for a poll starts with a whole frame, as the next tests show.)
  rig.pty->send("5\r3.5\r");
  usleep(20000);
  std::vector<std::string> values = {rig.value()};
  for (int i = 0; i < 10; ++i) {
    rig.ticks(1);
    if (values.empty() || values.back() != rig.value()) values.push_back(rig.value());
  }
  EXPECT_EQ(values, (std::vector<std::string>{"1.5", "3.5"}));
}

TEST(PortWatch, FlappingLeavesNoDescriptorAndTellsTheFirstVanishesAndReturnsThenOnlyCounts) {
  Rig rig;
  rig.start();
  rig.ticks(1);
  const int before = openDescriptors();
  for (int i = 0; i < 12; ++i) {
    rig.pty->closeMaster();
    rig.ticks(2);
    ASSERT_TRUE(rig.watch.isAway()) << i;
    rig.plugIn();
    rig.ticks(2);
    ASSERT_FALSE(rig.watch.isAway()) << i;
  }
  EXPECT_EQ(openDescriptors(), before);
  // Five of each in full, then the tenth of each with its count; a flapping connector used
  // to write two lines each time, for as long as it flapped.
  ASSERT_EQ(rig.lines().size(), 12u);
  for (std::size_t i = 0; i < 10; i += 2) {
    EXPECT_NE(rig.lines()[i].find("stopped answering"), std::string::npos) << rig.lines()[i];
    EXPECT_NE(rig.lines()[i + 1].find("is back"), std::string::npos) << rig.lines()[i + 1];
  }
  EXPECT_NE(rig.lines()[10].find("stopped answering"), std::string::npos) << rig.lines()[10];
  EXPECT_NE(rig.lines()[10].find("(10 times so far;"), std::string::npos) << rig.lines()[10];
  EXPECT_NE(rig.lines()[11].find("is back: reception goes on. (10 times so far;"), std::string::npos)
      << rig.lines()[11];
  rig.pty->send("7\r");
  rig.ticks();
  EXPECT_EQ(rig.value(), "7");
}

TEST(PortWatch, EachRefusalWhileAwayIsToldOnceAndWatchingGoesOn) {
  Rig rig;
  rig.start();
  rig.pty->closeMaster();
  rig.ticks(2);
  const fs::path file = rig.folder / "file";
  const fs::path dir = rig.folder / "dir";
  { std::FILE* f = std::fopen(file.c_str(), "w"); std::fclose(f); }
  fs::create_directory(dir);
  Pty held;
  const int holder = ::open(held.slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  struct Step {
    fs::path target;   // where the link points now; empty: no link at all
    std::string told;  // the line told, "" for none
  };
  const std::vector<Step> steps = {
      {"", ""},                                // still away: nothing more to say
      {file, "is not a serial port"},          // a regular file
      {dir, ""},                               // a directory: the same refusal, told already
      {held.slave, "is already open in Kelvor"},  // held by another opening (here: this process)
      {"", ""},
      {file, ""},                              // once per absence, however often it comes back
  };
  std::size_t lines = rig.lines().size();
  for (const Step& step : steps) {
    fs::remove(rig.link);
    if (!step.target.empty()) fs::create_symlink(step.target, rig.link);
    for (int i = 0; i < 3; ++i) {  // three retries on the clock, with no folder change
      rig.now += PortWatch::kRetryInterval;
      rig.ticks(1);
    }
    EXPECT_TRUE(rig.watch.isAway()) << step.target;
    if (step.told.empty()) {
      EXPECT_EQ(rig.lines().size(), lines) << step.target << ": " << rig.lines().back();
    } else {
      ASSERT_EQ(rig.lines().size(), lines + 1) << step.target;
      EXPECT_NE(rig.lines().back().find(step.told), std::string::npos) << rig.lines().back();
      EXPECT_NE(rig.view.shown.back().find(step.told), std::string::npos) << rig.view.shown.back();
    }
    lines = rig.lines().size();
  }
  ::close(holder);
  rig.plugIn();
  rig.ticks(1);
  EXPECT_FALSE(rig.watch.isAway());
}

TEST(PortWatch, ARunStartedWithoutTheDeviceTakesItWhenItAppearsWithoutASecondBox) {
  Rig rig;
  fs::remove(rig.link);
  rig.start();  // openPort's one box, which holds nothing while it is open
  ASSERT_EQ(rig.lines().size(), 1u);
  EXPECT_EQ(rig.lines()[0].rfind("mention ", 0), 0u) << rig.lines()[0];
  EXPECT_TRUE(rig.watch.isAway());
  // Retries on the clock change nothing while there is nothing to open.
  for (int i = 0; i < 5; ++i) {
    rig.now += PortWatch::kRetryInterval;
    rig.ticks(1);
  }
  EXPECT_EQ(rig.lines().size(), 1u);

  rig.plugIn();
  rig.ticks(2);  // reopened, then a quiet poll: the instrument is between readings
  EXPECT_FALSE(rig.watch.isAway());
  ASSERT_EQ(rig.lines().size(), 2u);
  EXPECT_EQ(rig.lines()[1], "note Kelvor - serial port: COM1 (" + rig.link.string() + ") is there now: reception starts.");
  rig.pty->send("9\r");
  rig.ticks();
  EXPECT_EQ(rig.value(), "9");
}

// A device that refuses the line settings is there: the strip says what it refused, and a
// configuration with settings it takes (a [LOAD( during the run) opens it without [STOP].
TEST(PortWatch, RefusedLineSettingsAreNoAbsenceAndNewSettingsOpenThePortInTheRun) {
  Rig rig;
  rig.config.BAUDRATE = 0;  // what a blank configuration holds
  rig.start();
  ASSERT_EQ(rig.lines().size(), 1u);
  EXPECT_NE(rig.lines()[0].find("COM1 (" + rig.link.string() + ") refused 0 baud"), std::string::npos) << rig.lines()[0];
  ASSERT_TRUE(rig.watch.isAway());
  EXPECT_EQ(rig.watch.description().find("no device"), std::string::npos) << rig.watch.description();
  EXPECT_NE(rig.watch.description().find("line settings were refused"), std::string::npos);
  for (int i = 0; i < 3; ++i) {  // the same settings are not tried over and over
    rig.now += PortWatch::kRetryInterval;
    rig.ticks(1);
  }
  EXPECT_EQ(rig.lines().size(), 1u);
  rig.config.BAUDRATE = 12345;  // refused too: told once, with what was refused this time
  for (int i = 0; i < 3; ++i) {
    rig.now += PortWatch::kRetryInterval;
    rig.ticks(1);
  }
  ASSERT_EQ(rig.lines().size(), 2u);
  EXPECT_NE(rig.lines()[1].find("refused 12345 baud"), std::string::npos) << rig.lines()[1];

  rig.config.BAUDRATE = 9600;
  rig.ticks(2);
  EXPECT_FALSE(rig.watch.isAway());
  EXPECT_EQ(rig.view.shown.back(), "");
  rig.pty->send("4\r");
  rig.ticks();
  EXPECT_EQ(rig.value(), "4");
}

TEST(PortWatch, StoppedItWatchesNothingAndHoldsNoDescriptor) {
  Rig rig;
  fs::remove(rig.link);
  const int before = openDescriptors();
  rig.start();
  EXPECT_TRUE(rig.deviceWatch.isWatching());
  rig.watch.runStopped();
  EXPECT_FALSE(rig.deviceWatch.isWatching());
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(rig.view.shown.back(), "");
  rig.plugIn();
  rig.now += 10 * PortWatch::kRetryInterval;
  rig.watch.tick();
  EXPECT_EQ(rig.library.health(0), SerialLibrary::PortHealth::Closed);
}

}  // namespace
}  // namespace kelvor
