#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/settings/configuration.h"
#include "core/settings/file_commands.h"
#include "core/settings/profile_file.h"
#include "core/system/system.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

class ConfigurationFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kelvor-config-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "SCALE1.KLV").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string content() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static Configuration sample() {
    Configuration c;
    c.NAME = "SCALE1";
    c.ENABLESENDKEY = 1;
    c.ENABLESERVERDDE = 1;
    c.PORT = 2;
    c.BAUDRATE = keepWidth<std::int16_t>(38400);
    c.PARITY = 2;
    c.DATABITS = 7;
    c.STOPBITS = 2;
    c.USEXON = 1;
    c.SELECTENDOF = 3;
    c.ENDOFCHAR = 2;
    c.NUMBEROFBYTE = 999;
    c.ENDOFSTRING = "END";
    c.LENFILTERENABLE = 1;
    c.LENFILTERSTART = -3;
    c.LENFILTEREND = 4;
    c.SOUNDENABLE = 1;
    c.FILESOUNDKEY = "/home/bench user/sounds/key click.wav";
    c.DELAYMS = 20;
    return c;
  }
  fs::path dir_;
  std::string path_;
};

TEST_F(ConfigurationFile, SavedAndLoadedAgainGivesTheSameRecord) {
  const Configuration saved = sample();
  saveConfiguration(saved, path_);
  Configuration loaded;
  loaded.AUTO = 7;  // loading replaces every field, also those the file holds as 0
  loadConfiguration(loaded, path_);
  EXPECT_EQ(loaded, saved);
  EXPECT_EQ(readProfileString(path_, "COMMPORT", "BAUDRATE"), "-27136");
}

TEST_F(ConfigurationFile, WritesThe28KeysInFileOrderAsWindowsTextWithoutPadding) {
  saveConfiguration(sample(), path_);
  std::istringstream lines(content());
  std::vector<std::string> keys;
  for (std::string line; std::getline(lines, line);) keys.push_back(line.substr(0, line.find_first_of("=\r")));
  const std::vector<std::string> expected = {
      "[APP]", "NAME", "ENABLESENDKEY", "ENABLESERVERDDE", "SENDORREQUEST", "[COMMPORT]", "PORT", "AUTO",
      "BAUDRATE", "PARITY", "DATABITS", "STOPBITS", "USECTS", "USEXON", "USEDTR", "SELECTENDOF", "ENDOFCHAR",
      "NUMBEROFBYTE", "ENDOFSTRING", "ENABLECLEAR", "LENFILTERENABLE", "LENFILTERSTART", "LENFILTEREND",
      "ENABLECONVERTVALUE", "BUFFERMODE", "[SOUND]", "SOUNDENABLE", "ENABLEDDESOUND", "FILESOUNDDDE",
      "ENABLEKEYSOUND", "FILESOUNDKEY", "[KEYBOARD]", "DELAYMS"};
  EXPECT_EQ(keys, expected);
  EXPECT_NE(content().find("[APP]\r\nNAME=SCALE1\r\nENABLESENDKEY="), std::string::npos);
  EXPECT_NE(content().find("\r\nENDOFSTRING=END\r\n"), std::string::npos);
  EXPECT_NE(content().find("\r\nLENFILTERSTART=-3\r\n"), std::string::npos);
  EXPECT_EQ(content().find(" \r"), std::string::npos);
}

TEST_F(ConfigurationFile, EveryRateReadsAndWritesAsTheFilesOfItsTimeHoldIt) {
  // The classic rates as their 16-bit field (38400 as -27136), the faster ones as themselves.
  const std::pair<const char*, int> cases[] = {{"300", 300},       {"9600", 9600},     {"-27136", 38400},
                                              {"57600", 57600},   {"115200", 115200}, {"230400", 230400}};
  for (const auto& [written, rate] : cases) {
    write(std::string("[COMMPORT]\nBAUDRATE=") + written + "\n");
    Configuration c;
    loadConfiguration(c, path_);
    EXPECT_EQ(bitsPerSecond(c.BAUDRATE), rate) << written;
    saveConfiguration(c, path_);
    EXPECT_EQ(readProfileString(path_, "COMMPORT", "BAUDRATE"), written);
  }
}

TEST_F(ConfigurationFile, NumbersKeepOnlyWhatTheirFieldHolds) {
  write("[APP]\nNAME=ABCDEFGHIJKL\nENABLESENDKEY=300\n[COMMPORT]\nBAUDRATE=40000\nPORT=-1\n"
        "NUMBEROFBYTE=12.9\nSTOPBITS=abc\nDATABITS=  8 bits\nENDOFCHAR=13\nENDOFSTRING=" +
        std::string(40, 'E') + "\n");
  Configuration c;
  loadConfiguration(c, path_);
  EXPECT_EQ(c.NAME.padded(), "ABCDEFGH");
  EXPECT_EQ(c.ENABLESENDKEY, 44);
  EXPECT_EQ(c.BAUDRATE, -25536);
  EXPECT_EQ(c.PORT, -1);
  EXPECT_EQ(c.NUMBEROFBYTE, 12);
  EXPECT_EQ(c.STOPBITS, 0);
  EXPECT_EQ(c.DATABITS, 8);
  EXPECT_EQ(c.ENDOFCHAR, 13);
  EXPECT_EQ(c.ENDOFSTRING.padded(), std::string(30, 'E'));
}

TEST_F(ConfigurationFile, AMissingSectionOrFileClearsItsFields) {
  Configuration c = sample();
  c.ENABLEDDESOUND = 1;
  write("[APP]\nNAME=X\n[COMMPORT]\nPORT=1\n");
  loadConfiguration(c, path_);
  EXPECT_EQ(c.SOUNDENABLE, 0);
  EXPECT_EQ(c.ENABLEDDESOUND, 0);
  EXPECT_TRUE(c.FILESOUNDKEY.isBlank());
  EXPECT_EQ(c.ENABLESENDKEY, 0);
  EXPECT_EQ(c.DELAYMS, 0);  // a file of an older version types without a pause
  loadConfiguration(c, (dir_ / "absent.KLV").string());
  EXPECT_EQ(c, Configuration());
}

TEST_F(ConfigurationFile, SavingOntoAFileKeepsItsOtherKeysAndSections) {
  write("; bench 4\n[APP]\nOWNER=lab\nNAME=OLD\n[EXTRA]\nnote = keep me \n");
  saveConfiguration(sample(), path_);
  const std::string saved = content();
  EXPECT_EQ(saved.rfind("; bench 4\n[APP]\nOWNER=lab\nNAME=SCALE1\n", 0), 0u);
  EXPECT_NE(saved.find("[EXTRA]\nnote = keep me \n"), std::string::npos);
  EXPECT_EQ(readProfileString(path_, "APP", "OWNER"), "lab");
}

TEST_F(ConfigurationFile, SavingSaysWhetherTheFileWasWritten) {
  EXPECT_TRUE(saveConfiguration(sample(), path_));
  EXPECT_FALSE(saveConfiguration(sample(), (dir_ / "missing" / "X.KLV").string()));
  EXPECT_FALSE(saveConfiguration(sample(), dir_.string()));  // a folder
}

TEST_F(ConfigurationFile, StartupLoadsTheFileNamedInKelvorIni) {
  const std::string ini = (dir_ / "KELVOR.INI").string();
  saveConfiguration(sample(), path_);
  Configuration c;
  std::string configFilePath;
  loadStartupConfiguration(c, configFilePath, ini);  // no KELVOR.INI: nothing loaded
  EXPECT_EQ(c, Configuration());
  writeProfileString(ini, "FILECONFIG", "RS232", PathText<255>(path_).padded());
  loadStartupConfiguration(c, configFilePath, ini);
  EXPECT_EQ(c, sample());
  EXPECT_EQ(trimRight(configFilePath), path_);
}

// A new folder made ready to run holds Windows text on every desk: CR LF line ends, no value
// padded, the paths with the desk's one separator; it names a configuration that loads.
TEST_F(ConfigurationFile, TheSeededFolderHoldsWindowsTextThatLoads) {
  const std::string folder = dir_.string();
  seedFirstStart(folder, folder + "/english.lan");
  for (const std::string name : {"KELVOR.INI", "KELVOR.KLV"}) {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    ASSERT_FALSE(text.empty()) << name;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
      EXPECT_TRUE(at > 0 && text[at - 1] == '\r') << name << " at " << at;
    EXPECT_EQ(text.find(" \r"), std::string::npos) << name;
  }
  const std::string ini = (dir_ / "KELVOR.INI").string();
  EXPECT_EQ(readProfileString(ini, "FILECONFIG", "RS232"), nativePath(folder + "/KELVOR.KLV"));
  EXPECT_EQ(readProfileString(ini, "TRANSLATE", "FILENAME"), nativePath(folder + "/english.lan"));
  Configuration loaded;
  std::string configFilePath;
  loadStartupConfiguration(loaded, configFilePath, ini);
  EXPECT_EQ(loaded, readyConfiguration());
}

}  // namespace
}  // namespace kelvor
