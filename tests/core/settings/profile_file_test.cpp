#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings/profile_file.h"

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

// Windows text wherever Kelvor starts a file; a file of its own keeps its line ends.
TEST_F(ProfileFile, NewFilesUseCrLfAndEveryFileKeepsItsLineEnd) {
  ASSERT_TRUE(writeProfileString(path_, "SCREEN", "PosX", "5"));
  EXPECT_EQ(content(), "[SCREEN]\r\nPosX=5\r\n");
  const std::pair<const char*, const char*> cases[] = {
      {"[SCREEN]\r\nPosX=5\r\n", "[SCREEN]\r\nPosX=5\r\nPosY=6\r\n"},
      {"[SCREEN]\nPosX=5\n", "[SCREEN]\nPosX=5\nPosY=6\n"},
      {"", "[SCREEN]\r\nPosY=6\r\n"},
      {"; one line", "; one line\r\n[SCREEN]\r\nPosY=6\r\n"},
  };
  for (const auto& [before, after] : cases) {
    write(before);
    ASSERT_TRUE(writeProfileString(path_, "SCREEN", "PosY", "6"));
    EXPECT_EQ(content(), after) << before;
  }
}

TEST_F(ProfileFile, ALineBreakInAValueCannotInjectKeys) {
  ASSERT_TRUE(writeProfileString(path_, "A", "k", "v\n[B]\nx=1"));
  EXPECT_EQ(readProfileString(path_, "B", "x"), "");
  EXPECT_EQ(readProfileString(path_, "A", "k"), "v [B] x=1");
}

// What a read would strip (blanks in front, tabs at the end, enclosing quotes) is protected by
// quotes; trailing blanks alone carry no meaning and are never written.
TEST_F(ProfileFile, AWrittenValueReadsBackAsItWas) {
  struct Case {
    std::string value, stored, read;
  };
  const Case cases[] = {
      {"  END", "\"  END\"", "  END"},
      {"\"kg\"   ", "\"\"kg\"\"", "\"kg\""},
      {"\t1", "\"\t1\"", "\t1"},
      {"kg\t  ", "\"kg\t\"", "kg\t"},
      {"\t ", "\"\t\"", "\t"},
      {"DEMO    ", "DEMO", "DEMO"},
      {"C:\\K\\A.KLV" + std::string(240, ' '), "C:\\K\\A.KLV", "C:\\K\\A.KLV"},
      {"a \"b\"", "a \"b\"", "a \"b\""},
      {"   ", "", ""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(writeProfileString(path_, "A", "k", c.value));
    EXPECT_EQ(content(), "[A]\r\nk=" + c.stored + "\r\n") << c.value;
    EXPECT_EQ(readProfileString(path_, "A", "k"), c.read) << c.value;
  }
}

TEST_F(ProfileFile, ReadsBinaryFilesAndRefusesHugeOnesOnceWithANotice) {
  std::vector<std::string> notices;
  setProfileFileNotice([&](const std::string& text) { notices.push_back(text); });
  std::string binary(4096, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 37);
  write(binary + "\n[A]\nk=1\n");
  EXPECT_EQ(readProfileString(path_, "A", "k"), "1");
  // Over the limit a settings file reads as unreadable and is left as it is.
  const std::string huge = "[A]\nhuge=" + std::string(kMaxProfileFileBytes, 'x') + "\nk=2\n";
  write(huge);
  EXPECT_EQ(readProfileString(path_, "A", "k"), "");
  EXPECT_EQ(readProfileStrings(path_, std::vector<ProfileKey>{{"A", "k"}})[0], "");
  EXPECT_FALSE(writeProfileString(path_, "A", "k", "3"));
  EXPECT_EQ(errno, EFBIG);
  EXPECT_EQ(content(), huge);
  ASSERT_EQ(notices.size(), 1u);  // once per file, however often it is read
  EXPECT_NE(notices[0].find(path_), std::string::npos);
  setProfileFileNotice(nullptr);
}

// Several keys in one replacement end as the same file as the keys written one by one.
TEST_F(ProfileFile, ABatchWritesWhatSingleWritesWouldInOneReplacement) {
  const std::vector<ProfileValue> values = {
      {"APP", "NAME", "NEW"}, {"COMMPORT", "PORT", "2"}, {"SOUND", "S1", "a"},  {"app", "AUTO", "1"},
      {"Sound", "S2", "b"},   {"COMMPORT", "PORT", "3"}, {"NEW", "K", "v\nw"}, {"APP", "ENABLE", "0"},
  };
  for (const char* start : {"", "[APP]\nNAME=OLD\n\n[COMMPORT]\nPORT=1", "[APP]\r\nNAME=OLD\r\n; note\r\n[X]\r\ny=1\r\n"}) {
    write(start);
    for (const auto& v : values) ASSERT_TRUE(writeProfileString(path_, v.section, v.key, v.value));
    const std::string oneByOne = content();
    write(start);
    ASSERT_TRUE(writeProfileStrings(path_, values));
    EXPECT_EQ(content(), oneByOne) << start;
    EXPECT_EQ(readProfileStrings(path_, std::vector<ProfileKey>{{"commport", "port"}, {"NEW", "K"}, {"APP", "none"}}),
              (std::vector<std::string>{"3", "v w", ""}));
  }
}

// A write killed before its rename leaves "<file>.kelvor-tmp"; the next write reuses it, so
// none stays behind.
TEST_F(ProfileFile, TheNextWriteRemovesATemporaryFileLeftByAKilledOne) {
  write("[A]\nk=1\n");
  std::ofstream(path_ + ".kelvor-tmp") << "[A]\nk=half";
  ASSERT_TRUE(writeProfileString(path_, "A", "k", "2"));
  EXPECT_EQ(content(), "[A]\nk=2\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// A full disk, stood in for by a file-size limit: the write fails and the old content stays,
// with no temporary file left behind.
}  // namespace
}  // namespace kelvor
