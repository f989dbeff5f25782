#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/desk/menu_text.h"

namespace kelvor {
namespace {

TEST(MenuText, WithoutALanguageFileShowsBracketedKeys) {
  Language language;
  language.languageFilePath = "/nonexistent/english.lan";
  language.languageSection = "config";
  EXPECT_EQ(buildMenuText(language, true),
            "+[TOP]|-[ABOUT]|-|-[CONFIGURATION]|-[DEVICES]|-[VIEW]|-[TEST]|-[OUTPUTS]|-|-[SAVE]|-[LOAD]|-|-"
            "[SETDEFAULT]|-|-[SELECTLANG]");
  EXPECT_EQ(language.languageSection, "MAIN");
  EXPECT_EQ(buildMenuText(language, false).substr(0, 7), "-[TOP]|");
}

TEST(MenuText, IsCutAt500CharactersLosingTheLastItems) {
  Language language;
  language.languageFilePath =
      (std::filesystem::temp_directory_path() / ("kelvor-menu-" + std::to_string(getpid()) + ".lan")).string();
  std::ofstream(language.languageFilePath) << "[MAIN]\nTop=" << std::string(300, 'T') << "\nAbout="
                                           << std::string(200, 'A') << "\nconfiguration=Configuration\n";
  const std::string text = buildMenuText(language, true);
  std::filesystem::remove(language.languageFilePath);
  ASSERT_EQ(text.size(), 500u);
  const auto entries = parseMenuText(text);
  ASSERT_EQ(entries.size(), 2u);  // the cut falls inside the second item: the rest is lost
  EXPECT_EQ(entries[1].item, 2);
  EXPECT_EQ(entries[1].text, std::string(197, 'A'));
}

TEST(MenuText, ParsesItemsSeparatorsAndTheCheckMark) {
  const auto entries = parseMenuText("+Top|-About|-|-Conf|-View");
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_TRUE(entries[0].checked);
  EXPECT_EQ(entries[0].item, 1);
  EXPECT_FALSE(entries[1].checked);
  EXPECT_EQ(entries[1].text, "About");
  EXPECT_TRUE(entries[2].separator);
  EXPECT_EQ(entries[3].item, 3);  // items are counted without the separators
  EXPECT_EQ(entries[4].item, 4);
}

}  // namespace
}  // namespace kelvor
