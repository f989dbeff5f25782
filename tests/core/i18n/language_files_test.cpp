// The shipped language files: each holds exactly english.lan's sections and keys, is read by
// Kelvor as the Windows-1252 text it is meant to be, and keeps its texts short enough for the
// controls they fill. And the file a first start picks from the system's language.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/i18n/shipped_languages.h"
#include "core/i18n/translate.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

struct Entry {
  std::string section, key, value;
};

std::string contentOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sections and keys in file order; comments (";") and blank lines are not entries.
std::vector<Entry> entriesOf(const std::string& content) {
  std::vector<Entry> entries;
  std::string section;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
    } else if (const auto equals = line.find('='); equals != std::string::npos) {
      entries.push_back({section, line.substr(0, equals), line.substr(equals + 1)});
    } else {
      ADD_FAILURE() << "a line that is neither a section nor a key: " << line;
    }
  }
  return entries;
}

// Windows-1252 as the code page defines it; 0 for its five unassigned bytes.
char32_t fromWindows1252(unsigned char byte) {
  static constexpr char32_t kHigh[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
                                         0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

std::string utf8Of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// A translated text may be longer than the English one by this much, in characters. From
// the screenshots of every window in every language: the tightest controls (the length
// filter's labels, the parity options, the tabs) take about half their English text again
// and a few letters more before shrinking makes them hard to read; the longer texts sit in
// menus, titles and lines that have room.
std::size_t longestFitting(std::size_t english) { return english + english / 2 + 6; }

const fs::path kFolder = KELVOR_LANGUAGE_FOLDER;

TEST(LanguageFiles, ExactlyTheShippedFilesLieInTheFolder) {
  std::set<std::string> found;
  for (const auto& file : fs::directory_iterator(kFolder)) found.insert(file.path().filename().string());
  const auto shipped = shippedLanguageFiles();
  EXPECT_EQ(found, std::set<std::string>(shipped.begin(), shipped.end()));
  EXPECT_EQ(std::string(shipped.front()), kEnglishLanguageFile);
}

TEST(LanguageFiles, EachHasEnglishKeysDecodesAsWindows1252AndFitsItsControls) {
  const std::vector<Entry> english = entriesOf(contentOf(kFolder / kEnglishLanguageFile));
  ASSERT_GT(english.size(), 100u);
  for (const char* name : shippedLanguageFiles()) {
    SCOPED_TRACE(name);
    const std::vector<Entry> entries = entriesOf(contentOf(kFolder / name));
    std::vector<std::pair<std::string, std::string>> keys, englishKeys;
    for (const Entry& e : entries) keys.emplace_back(e.section, e.key);
    for (const Entry& e : english) englishKeys.emplace_back(e.section, e.key);
    ASSERT_EQ(keys, englishKeys);

    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Entry& entry = entries[i];
      SCOPED_TRACE("[" + entry.section + "] " + entry.key);
      std::string expected;
      for (unsigned char byte : entry.value) {
        const char32_t c = fromWindows1252(byte);
        EXPECT_TRUE(c != 0 && c >= 0x20) << "byte " << int(byte) << " is no Windows-1252 character";
        // The broken bar would hide what precedes it.
        EXPECT_NE(c, U'\u00A6');
        expected += utf8Of(c);
      }
      // What Kelvor shows is the Windows-1252 reading, never a UTF-8 one, whole and trimmed.
      Language language;
      language.languageFilePath = (kFolder / name).string();
      language.languageSection = entry.section;
      EXPECT_EQ(translate(language, entry.key), expected);
      EXPECT_EQ(expected.find_last_not_of(' ') + 1, expected.size());
      EXPECT_LE(entry.value.size(), longestFitting(english[i].value.size())) << entry.value;
    }
  }
}

TEST(ShippedLanguages, TheSystemLanguageNamesItsFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"de_DE.UTF-8", "deutsch.lan"},    {"de_CH", "deutsch.lan"},        {"de-AT", "deutsch.lan"},
      {"de", "deutsch.lan"},             {"german", "deutsch.lan"},       {"fr_FR.ISO-8859-1@euro", "francais.lan"},
      {"fr-CA", "francais.lan"},         {"es_ES.UTF-8", "espanol.lan"},  {"es-MX", "espanol.lan"},
      {"it_IT@euro", "italiano.lan"},    {"pt_PT.UTF-8", "portugues.lan"}, {"pt-BR", "portugues.lan"},
      {"nl_BE.UTF-8", "nederlands.lan"}, {"NL-nl", "nederlands.lan"},     {"en_GB.UTF-8", "english.lan"},
      {"C.UTF-8", "english.lan"},        {"C", "english.lan"},            {"POSIX", "english.lan"},
      {"", "english.lan"},               {"sv_SE.UTF-8", "english.lan"},  {"ja-JP", "english.lan"},
      {"dee_XX", "english.lan"},         {"d", "english.lan"},
  };
  for (const auto& [system, file] : cases) EXPECT_EQ(languageFileOf(system), file) << system;
}

TEST(ShippedLanguages, AFirstStartTakesTheSystemLanguageOnlyWhereItsFileIs) {
  const fs::path folder = fs::temp_directory_path() / ("kelvor-first-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "english.lan") << "[MAIN]\n";
  EXPECT_EQ(firstLanguageFile("de_DE.UTF-8", folder.string()), "english.lan");
  std::ofstream(folder / "deutsch.lan") << "[MAIN]\n";
  EXPECT_EQ(firstLanguageFile("de_DE.UTF-8", folder.string()), "deutsch.lan");
  EXPECT_EQ(firstLanguageFile("fr_FR.UTF-8", folder.string()), "english.lan");
  EXPECT_EQ(firstLanguageFile("sw_KE.UTF-8", folder.string()), "english.lan");
  fs::create_directory(folder / "francais.lan");  // a folder by that name is no language file
  EXPECT_EQ(firstLanguageFile("fr_FR.UTF-8", folder.string()), "english.lan");
  fs::remove_all(folder);
}

}  // namespace
}  // namespace kelvor
