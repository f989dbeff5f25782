#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/outputs/output_settings.h"
#include "core/outputs/reading_publisher.h"
#include "core/outputs/reading_format.h"
#include "core/outputs/reading_log.h"
#include "core/settings/profile_file.h"
#include "tests/core/time_zone.h"
#include "tests/core/outputs/recording_notices.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

// Central European time with its summer time, written out so no time zone data is needed.
class CentralEuropeanTime : public ::testing::Environment {
 public:
  void SetUp() override {
    testing::useCentralEuropeanTime();
  }
};
const auto* const kZone = ::testing::AddGlobalTestEnvironment(new CentralEuropeanTime);

system_clock::time_point utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms) {
  return sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
}

std::string content(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kelvor-outputs-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST(ReadingTimes, LocalWithOffsetAndUtcWithMilliseconds) {
  const struct {
    system_clock::time_point time;
    const char* local;
    const char* utc;
  } cases[] = {
      {utc(2026, 12, 7, 10, 25, 44, 123), "2026-12-07T11:25:44.123+01:00", "2026-12-07T10:25:44.123Z"},
      {utc(2026, 7, 1, 22, 0, 0, 5), "2026-07-02T00:00:00.005+02:00", "2026-07-01T22:00:00.005Z"},
      {utc(1969, 12, 31, 23, 59, 59, 999), "1970-01-01T00:59:59.999+01:00", "1969-12-31T23:59:59.999Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(localTimeText(c.time), c.local);
    EXPECT_EQ(utcTimeText(c.time), c.utc);
  }
}

TEST(CsvLine, QuotesWhatWouldBreakTheLineAndKeepsEveryCharacter) {
  const struct {
    std::string bytes;
    std::string field;
  } cases[] = {
      {"12.5", "12.5"},
      {"", ""},
      {"1,5 kg", "\"1,5 kg\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"a\r\nb", "\"a\r\nb\""},
      {std::string("a\0b", 3), std::string("\"a\0b\"", 5)},
      {" 12.5", "\" 12.5\""},
      {"+012.50 \xB5g", "+012.50 \xC2\xB5g"},  // Windows-1252 micro sign
      {"25 \xC2\xB0" "C", "25 \xC2\xB0" "C"},     // UTF-8 stays as it is
  };
  for (const auto& c : cases) {
    const Reading reading{utc(2026, 12, 7, 10, 25, 44, 123), "SCALE,1", 1, c.bytes, c.bytes};
    EXPECT_EQ(csvLine(reading), "2026-12-07T11:25:44.123+01:00,\"SCALE,1\",COM2," + c.field + "," + c.field + "\r\n")
        << c.bytes;
  }
}

TEST(ReadingJson, EscapesEveryByteIntoValidJson) {
  const Reading reading{utc(2026, 12, 7, 10, 25, 44, 123), "S", 0, std::string("\"1\"\n\0", 5), "\xB5\t\\"};
  EXPECT_EQ(readingJson(reading, 18446744073709551ull),
            "{\"frame\":\"\xC2\xB5\\t\\\\\",\"port\":\"COM1\",\"seq\":18446744073709551,"
            "\"time\":\"2026-12-07T10:25:44.123Z\",\"value\":\"\\\"1\\\"\\n\\u0000\"}");
}

TEST_F(TempFolder, LogWritesOneFileADayWithItsHeader) {
  RecordingNotices notices;
  ReadingLog log(notices);
  log.setFolder((dir_ / "readings" / "bench").string());
  log.write({utc(2026, 12, 7, 22, 59, 59, 999), "S", 0, "1", "1"});
  log.write({utc(2026, 12, 7, 23, 0, 0, 0), "S", 0, "2", "2"});  // midnight in Berlin
  EXPECT_EQ(content(dir_ / "readings/bench/2026-12-07.csv"),
            csvHeader() + "2026-12-07T23:59:59.999+01:00,S,COM1,1,1\r\n");
  EXPECT_EQ(content(dir_ / "readings/bench/2026-12-08.csv"),
            csvHeader() + "2026-12-08T00:00:00.000+01:00,S,COM1,2,2\r\n");
  EXPECT_TRUE(notices.shown().empty());
}

TEST_F(TempFolder, TornLastLineIsEndedBeforeTheNextReading) {
  const struct {
    std::string torn;
    std::string completion;
  } cases[] = {
      {"2026-12-07T11:00:00.000+01:00,S,COM1,\"1,", "\"\r\n"},  // a quoted field left open
      {"2026-12-07T11:00:00.000+01:00,S,COM1,1", "\r\n"},
      {"2026-12-07T11:00:00.000+01:00,S,COM1,\"a\"\"b\",1\r", "\r\n"},
  };
  for (const auto& c : cases) {
    const fs::path file = dir_ / "2026-12-07.csv";
    std::ofstream(file, std::ios::binary) << csvHeader() << c.torn;
    RecordingNotices notices;
    ReadingLog log(notices);
    log.setFolder(dir_.string());
    log.write({utc(2026, 12, 7, 10, 0, 1, 0), "S", 0, "2", "2"});
    EXPECT_EQ(content(file), csvHeader() + c.torn + c.completion + "2026-12-07T11:00:01.000+01:00,S,COM1,2,2\r\n");
  }
}

TEST_F(TempFolder, UnwritableFolderIsToldOnceAndTheLogResumesByItself) {
  RecordingNotices notices;
  ReadingLog log(notices);
  const fs::path folder = dir_ / "readings";
  std::ofstream(folder) << "a file where the folder should be";
  log.setFolder(folder.string());
  log.write({utc(2026, 12, 7, 10, 0, 1, 0), "S", 0, "1", "1"});
  log.write({utc(2026, 12, 7, 10, 0, 2, 0), "S", 0, "2", "2"});
  ASSERT_EQ(notices.shown().size(), 1u);
  EXPECT_NE(notices.shown()[0].text.find("a file of that name is in the way"), std::string::npos);

  fs::remove(folder);
  log.write({utc(2026, 12, 7, 10, 0, 3, 0), "S", 0, "3", "3"});
  EXPECT_EQ(content(folder / "2026-12-07.csv"), csvHeader() + "2026-12-07T11:00:03.000+01:00,S,COM1,3,3\r\n");
  EXPECT_EQ(notices.shown().size(), 1u);
  EXPECT_EQ(notices.notes().size(), 1u);  // "writes again", on standard error only

  // A failing log switched to another folder that fails too tells that one as well.
  ReadingLog moved(notices);
  for (const char* name : {"a", "b"}) {
    std::ofstream(dir_ / name) << "in the way";
    moved.setFolder((dir_ / name).string());
    moved.write({utc(2026, 12, 7, 10, 0, 4, 0), "S", 0, "4", "4"});
  }
  EXPECT_EQ(notices.shown().size(), 3u);
}

TEST_F(TempFolder, SettingsDefaultsRangesAndRoundTrip) {
  const std::string ini = (dir_ / "KELVOR.INI").string();
  OutputSettings defaults = readOutputSettings(ini);
  EXPECT_EQ(defaults, OutputSettings{});
  EXPECT_EQ(defaults.mqtt.PORT, 1883);
  EXPECT_EQ(defaults.mqtt.QOS, 1);
  EXPECT_EQ(defaults.mqtt.QUEUE, 10000);
  EXPECT_EQ(defaults.log.FOLDER, "readings");

  std::ofstream(ini) << "[MQTT]\nENABLE=1\nPORT=70000\nQOS=2\nQUEUE=0\n[LOG]\nENABLE=yes\n";
  const OutputSettings odd = readOutputSettings(ini);
  EXPECT_EQ(odd.mqtt.ENABLE, 1);
  EXPECT_EQ(odd.mqtt.PORT, 1883);
  EXPECT_EQ(odd.mqtt.QOS, 1);
  EXPECT_EQ(odd.mqtt.QUEUE, 10000);
  EXPECT_EQ(odd.log.ENABLE, 0);

  std::ofstream(ini) << "[SCREEN]\nPosX=5\n";
  OutputSettings s;
  s.log = {1, "/var/log/kelvor"};
  s.mqtt = {1, "broker.lab", 8883, "bench-7", "lab/7", "kelvor", " secret \"x\"", "/etc/ca.pem", 0, 50000};
  std::string error;
  ASSERT_TRUE(writeOutputSettings(ini, s, error)) << error;
  EXPECT_EQ(readOutputSettings(ini), s);
  EXPECT_EQ(readProfileString(ini, "SCREEN", "PosX"), "5");
}

TEST(PublisherStateText, SaysTheConnectionAndTheQueue) {
  EXPECT_EQ(publisherStateText(true, {true, 0}), "Connected to the broker; 0 readings wait in the queue.");
  EXPECT_EQ(publisherStateText(true, {false, 1}), "Not connected to the broker; 1 reading waits in the queue.");
  EXPECT_EQ(publisherStateText(false, {false, 0}), "Publishing is off.");
  EXPECT_EQ(publisherStateText(false, {false, 12}), "Publishing is off; 12 readings wait in the queue.");
}

TEST(TopicAndClient, DefaultsFollowTheDesk) {
  MqttSettings m;
  EXPECT_EQ(topicPrefix(m, "bench7", "SCALE1  "), "kelvor/bench7/SCALE1");
  EXPECT_EQ(topicPrefix(m, "bench7", "A/B+#"), "kelvor/bench7/A_B__");
  EXPECT_EQ(topicPrefix(m, "bench7", "\xB5m"), "kelvor/bench7/\xC2\xB5m");
  EXPECT_EQ(topicPrefix(m, "bench7", "   "), "kelvor/bench7");
  EXPECT_EQ(clientId(m, "bench7", "Kelvor", "/home/lab"), "bench7:Kelvor:/home/lab");
  EXPECT_NE(clientId(m, "bench7", "Kelvor", "/home/lab"), clientId(m, "bench8", "Kelvor", "/home/lab"));
  EXPECT_NE(clientId(m, "bench7", "Kelvor", "/home/lab"), clientId(m, "bench7", "Bench2", "/home/lab"));
  m.TOPIC = "plant/line2";
  m.CLIENTID = "scale-12";
  EXPECT_EQ(topicPrefix(m, "bench7", "SCALE1"), "plant/line2");
  EXPECT_EQ(clientId(m, "bench7", "Kelvor", "/home/lab"), "scale-12");
}

}  // namespace
}  // namespace kelvor
