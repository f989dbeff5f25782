#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/i18n/translate.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

class Translate : public ::testing::Test {
 protected:
  void SetUp() override {
    language_.languageFilePath =
        (fs::temp_directory_path() / ("kelvor-lan-" + std::to_string(getpid()) + ".lan")).string();
    language_.languageSection = "MAIN";
  }
  void TearDown() override { fs::remove(language_.languageFilePath); }
  void write(const std::string& content) {
    std::ofstream(language_.languageFilePath, std::ios::binary) << content;
  }
  Language language_;
};

TEST_F(Translate, TakesTheTextAfterTheFirstBrokenBarInWindows1252) {
  write("[main]\ntop=01\xA6" "Always on top   \nabout=About Kelvor\nsave=prefix\xA6\nload=a\xA6" "b\xA6" "c\n"
        "view=\xA6   \nrunon=caf\xE9\xA6" "D\xE9" "marrer\n");
  EXPECT_EQ(translate(language_, "Top"), "Always on top");
  EXPECT_EQ(translate(language_, "About"), "About Kelvor");
  EXPECT_EQ(translate(language_, "save"), "[SAVE]");
  EXPECT_EQ(translate(language_, "load"), "b\xC2\xA6" "c");  // shown as UTF-8
  EXPECT_EQ(translate(language_, "view"), "[VIEW]");
  EXPECT_EQ(translate(language_, "runon"), "D\xC3\xA9" "marrer");
}

TEST_F(Translate, TakesTheBrokenBarAsUPlusA6InUtf8Files) {
  write("[MAIN]\nTop=x\xC2\xA6Toujours devant\nabout=\xC3\xA0 propos\n");
  EXPECT_EQ(translate(language_, "Top"), "Toujours devant");
  EXPECT_EQ(translate(language_, "About"), "\xC3\xA0 propos");
}

TEST_F(Translate, FallsBackToTheBracketedUpperCasedKey) {
  write("[MAIN]\nTop=\n[file]\nloadfile=Load\n");
  EXPECT_EQ(translate(language_, "Top"), "[TOP]");            // blank value
  EXPECT_EQ(translate(language_, "selectlang"), "[SELECTLANG]");  // missing key
  language_.languageSection = "PORT";
  EXPECT_EQ(translate(language_, "configERROR"), "[CONFIGERROR]");  // missing section
  language_.languageFilePath = "/nonexistent/english.lan";
  EXPECT_EQ(translate(language_, "SAVEFILE"), "[SAVEFILE]");  // missing file
}

TEST_F(Translate, CutsValuesAt600CharactersBeforeLookingForTheBar) {
  write("[MAIN]\nTop=" + std::string(600, 'a') + "\xA6tail\nAbout=" + std::string(599, 'b') + "\xA6" + "t\n");
  EXPECT_EQ(translate(language_, "Top"), std::string(600, 'a'));
  EXPECT_EQ(translate(language_, "About"), "[ABOUT]");  // the bar is the 600th: nothing follows it
}

TEST_F(Translate, ReadsTheFileAnewAtEachLookup) {
  write("[MAIN]\nTop=One\n");
  EXPECT_EQ(translate(language_, "Top"), "One");
  write("[MAIN]\nTop=Two\n");
  EXPECT_EQ(translate(language_, "Top"), "Two");
}

}  // namespace
}  // namespace kelvor
