#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <fstream>
#include <sstream>

#include "platform/profile_file.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

class ProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kelvor-profile-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "KELVOR.INI").string();
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  void write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string content() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
  std::string path_;
};

TEST_F(ProfileFile, MatchesNamesWithoutRegardToCaseAndBlanks) {
  write("[ Screen ]\n  posx =  120  \nPOSY=\"  7 \"\n");
  EXPECT_EQ(readProfileString(path_, "SCREEN", "PosX"), "120");
  EXPECT_EQ(readProfileString(path_, "screen", "posy"), "  7 ");  // one pair of quotes removed
  EXPECT_EQ(readProfileString(path_, "SCREEN", "Missing"), "");
  EXPECT_EQ(readProfileString(path_, "OTHER", "PosX"), "");
  EXPECT_EQ(readProfileString((dir_ / "absent.ini").string(), "SCREEN", "PosX"), "");
}

TEST_F(ProfileFile, FirstSectionAndKeyWin) {
  write("[A]\nk=1\nk=2\n[a]\nk=3\nj=4\n");
  EXPECT_EQ(readProfileString(path_, "A", "k"), "1");
  EXPECT_EQ(readProfileString(path_, "A", "j"), "4");
}

TEST_F(ProfileFile, ValueIsEverythingAfterTheFirstEquals) {
  write("[A]\nformula=a=b\nempty=\n");
  EXPECT_EQ(readProfileString(path_, "A", "formula"), "a=b");
  EXPECT_EQ(readProfileString(path_, "A", "empty"), "");
}

TEST_F(ProfileFile, ReplacesAKeyInPlaceAndKeepsEveryOtherByte) {
  const std::string before = "; comment\r\n[APP]\r\nNAME=OLD\r\nextra = kept  \r\n\r\n[OTHER]\r\nx=1\r\nno equals line\r\n";
  write(before);
  ASSERT_TRUE(writeProfileString(path_, "app", "name", "NEW"));
  std::string expected = before;
  expected.replace(expected.find("NAME=OLD"), 8, "name=NEW");
  EXPECT_EQ(content(), expected);
}

TEST_F(ProfileFile, AppendsAMissingKeyToItsSectionAndAMissingSectionToTheEnd) {
  write("[APP]\nNAME=X\n\n[COMMPORT]\nPORT=1");  // no final newline
  ASSERT_TRUE(writeProfileString(path_, "APP", "AUTO", "1"));
  ASSERT_TRUE(writeProfileString(path_, "SOUND", "SOUNDENABLE", "0"));
  ASSERT_TRUE(writeProfileString(path_, "COMMPORT", "BAUDRATE", "9600"));
  EXPECT_EQ(content(), "[APP]\nNAME=X\nAUTO=1\n\n[COMMPORT]\nPORT=1\nBAUDRATE=9600\n[SOUND]\nSOUNDENABLE=0\n");
  // The key added to COMMPORT went to the first COMMPORT section's end.
  EXPECT_EQ(readProfileString(path_, "COMMPORT", "BAUDRATE"), "9600");
}

TEST_F(ProfileFile, DuplicateSectionsWriteTheFirstMatch) {
  write("[S]\na=1\n[T]\n[S]\na=2\n");
  ASSERT_TRUE(writeProfileString(path_, "S", "a", "9"));
  EXPECT_EQ(content(), "[S]\na=9\n[T]\n[S]\na=2\n");
}

TEST_F(ProfileFile, NewFilesUseLfAndCrLfFilesStayCrLf) {
  ASSERT_TRUE(writeProfileString(path_, "SCREEN", "PosX", "5"));
  EXPECT_EQ(content(), "[SCREEN]\nPosX=5\n");
  write("[SCREEN]\r\nPosX=5\r\n");
  ASSERT_TRUE(writeProfileString(path_, "SCREEN", "PosY", "6"));
  EXPECT_EQ(content(), "[SCREEN]\r\nPosX=5\r\nPosY=6\r\n");
}

TEST_F(ProfileFile, ALineBreakInAValueCannotInjectKeys) {
  ASSERT_TRUE(writeProfileString(path_, "A", "k", "v\n[B]\nx=1"));
  EXPECT_EQ(readProfileString(path_, "B", "x"), "");
  EXPECT_EQ(readProfileString(path_, "A", "k"), "v [B] x=1");
}

// What a read would strip (blanks in front, enclosing quotes) is protected by quotes; trailing
// blanks alone carry no meaning and are written as they are.
TEST_F(ProfileFile, AWrittenValueReadsBackAsItWas) {
  struct Case {
    std::string value, stored, read;
  };
  const Case cases[] = {
      {"  END", "\"  END\"", "  END"},
      {"\"kg\"   ", "\"\"kg\"   \"", "\"kg\"   "},
      {"\t1", "\"\t1\"", "\t1"},
      {"DEMO    ", "DEMO    ", "DEMO"},
      {"a \"b\"", "a \"b\"", "a \"b\""},
      {"   ", "   ", ""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(writeProfileString(path_, "A", "k", c.value));
    EXPECT_EQ(content(), "[A]\nk=" + c.stored + "\n") << c.value;
    EXPECT_EQ(readProfileString(path_, "A", "k"), c.read) << c.value;
  }
}

TEST_F(ProfileFile, WritesThroughASymbolicLinkToTheRealFile) {
  write("[A]\nk=1\n");
  const std::string link = (dir_ / "link.ini").string();
  fs::create_symlink(path_, link);
  ASSERT_TRUE(writeProfileString(link, "A", "k", "2"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(content(), "[A]\nk=2\n");
}

TEST_F(ProfileFile, KeepsThePermissionsOfTheFileItReplaces) {
  write("[A]\nk=1\n");
  chmod(path_.c_str(), 0640);
  ASSERT_TRUE(writeProfileString(path_, "A", "k", "2"));
  struct stat info {};
  stat(path_.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ProfileFile, FailsSilentlyWhereItCannotWrite) {
  EXPECT_FALSE(writeProfileString((dir_ / "missing" / "x.ini").string(), "A", "k", "1"));
  EXPECT_FALSE(writeProfileString(dir_.string(), "A", "k", "1"));  // a folder, not a file
  if (geteuid() != 0) {  // root writes anyway
    write("[A]\nk=1\n");
    chmod(path_.c_str(), 0444);
    EXPECT_FALSE(writeProfileString(path_, "A", "k", "2"));
    EXPECT_EQ(content(), "[A]\nk=1\n");
  }
}

TEST_F(ProfileFile, ReadsBinaryAndHugeFilesWithoutHarm) {
  std::string binary(4096, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 37);
  write(binary + "\n[A]\nk=1\n");
  EXPECT_EQ(readProfileString(path_, "A", "k"), "1");
  write("[A]\nhuge=" + std::string(20 * 1024 * 1024, 'x') + "\nk=2\n");
  EXPECT_EQ(readProfileString(path_, "A", "k"), "2");
  ASSERT_TRUE(writeProfileString(path_, "A", "k", "3"));
  EXPECT_EQ(readProfileString(path_, "A", "huge").size(), 20u * 1024 * 1024);
}

// KELVOR.INI, a configuration named by [LOAD( or a language file may name anything: a
// named pipe must not hold the program waiting for a writer, a folder reads as missing.
TEST_F(ProfileFile, NamesThatAreNotRegularFilesReadAsMissingWithoutWaiting) {
  const std::string pipe = (dir_ / "pipe.ini").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  auto reading = std::async(std::launch::async, [&] { return readProfileString(pipe, "A", "k"); });
  if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Let the blocked reader go, so that the test can end and report.
    const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    FAIL() << "reading a named pipe waited for a writer";
  }
  EXPECT_EQ(reading.get(), "");
  EXPECT_FALSE(writeProfileString(pipe, "A", "k", "1"));
  EXPECT_EQ(readProfileString(dir_.string(), "A", "k"), "");
  EXPECT_EQ(readProfileString("/dev/null", "A", "k"), "");
}

}  // namespace
}  // namespace kelvor
