#include "core/i18n/shipped_languages.h"

#include <array>
#include <filesystem>
#include <system_error>

namespace kelvor {
namespace {

struct ShippedLanguage {
  std::string_view code;   // ISO 639-1, as locales begin
  std::string_view alias;  // glibc's locale.alias name, which LANG may hold instead
  const char* file;
};

constexpr std::array<ShippedLanguage, 7> kLanguages{{
    {"en", "english", kEnglishLanguageFile},
    {"de", "german", "deutsch.lan"},
    {"fr", "french", "francais.lan"},
    {"es", "spanish", "espanol.lan"},
    {"it", "italian", "italiano.lan"},
    {"pt", "portuguese", "portugues.lan"},
    {"nl", "dutch", "nederlands.lan"},
}};

constexpr std::array<const char*, kLanguages.size()> kFiles = [] {
  std::array<const char*, kLanguages.size()> files{};
  for (std::size_t i = 0; i < kLanguages.size(); ++i) files[i] = kLanguages[i].file;
  return files;
}();

}  // namespace

std::span<const char* const> shippedLanguageFiles() { return kFiles; }

std::string languageFileOf(std::string_view systemLanguage) {
  // The language is what comes before the territory, the code set and the modifier.
  std::string language(systemLanguage.substr(0, systemLanguage.find_first_of("_-.@")));
  for (char& c : language) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const ShippedLanguage& shipped : kLanguages) {
    if (language == shipped.code || language == shipped.alias) return shipped.file;
  }
  return kEnglishLanguageFile;
}

std::string firstLanguageFile(std::string_view systemLanguage, const std::string& folder) {
  const std::string file = languageFileOf(systemLanguage);
  const std::string path = folder + "/" + file;
  std::error_code error;
  if (std::filesystem::is_regular_file(std::filesystem::path(std::u8string(path.begin(), path.end())), error))
    return file;
  return kEnglishLanguageFile;
}

}  // namespace kelvor
