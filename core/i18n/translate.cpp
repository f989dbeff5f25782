#include "core/i18n/translate.h"

#include <algorithm>

#include "core/settings/profile_file.h"
#include "core/toolkit/encoding.h"

namespace kelvor {
namespace {

constexpr std::size_t kValueLimit = 600;
constexpr std::size_t kKeyLimit = 63;

std::string bracketed(std::string_view key) { return "[" + trimRight(upperAscii(key)) + "]"; }

}  // namespace

std::string translate(const Language& language, std::string_view key) {
  const std::string_view lookupKey = key.substr(0, std::min(key.size(), kKeyLimit));
  std::string value = readProfileString(language.languageFilePath, language.languageSection.trimmed(), lookupKey);
  const bool utf8 = isValidUtf8(value);
  if (value.size() > kValueLimit) {
    value.resize(kValueLimit);
    // Never leave half a UTF-8 character behind the cut.
    while (utf8 && !value.empty() && !isValidUtf8(value)) value.pop_back();
  }
  if (trimRight(value).empty()) return bracketed(key);

  // The broken bar is the byte 0xA6 in a Windows-1252 file and U+00A6 in a UTF-8 one.
  const std::string_view bar = utf8 ? "\xC2\xA6" : "\xA6";
  const auto at = value.find(bar);
  std::string text = at == std::string::npos ? value : value.substr(at + bar.size());
  text = trimRight(text);
  if (text.empty()) return bracketed(key);
  return displayText(text);
}

}  // namespace kelvor
