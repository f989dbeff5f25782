#pragma once
// The language files Kelvor ships beside english.lan, and which of them a new working folder
// starts with: the one of the system's language, so that a bench in Lyon or Stuttgart sees its
// own language from the first start, and english.lan for any language Kelvor has no file for.

#include <span>
#include <string>
#include <string_view>

namespace kelvor {

inline constexpr const char* kEnglishLanguageFile = "english.lan";

// Every shipped language file, english.lan first.
std::span<const char* const> shippedLanguageFiles();

// The shipped file for a language as the system names it: a POSIX locale ("de_DE.UTF-8",
// "fr_CH@euro", "pt"), a Windows locale name ("nl-BE") or a glibc alias ("german");
// english.lan for any other, for "C" and "POSIX", and for the empty text.
std::string languageFileOf(std::string_view systemLanguage);

// The file a new folder starts with: that of the system's language when `folder` holds it,
// english.lan otherwise (a folder the files were not all copied into still starts).
std::string firstLanguageFile(std::string_view systemLanguage, const std::string& folder);

}  // namespace kelvor
