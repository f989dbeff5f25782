#pragma once
// Language files (`*.LAN`) and the lookup of user-interface texts by section and key.
//
// A value's text is what follows its first broken bar (0xA6 in Windows-1252, U+00A6 in
// UTF-8); a missing file, section, key or text gives the key upper-cased in brackets.
// The file is read anew at each lookup, so an edited file shows at the next one.

#include <string>
#include <string_view>

#include "core/toolkit/text.h"

namespace kelvor {

struct Language {
  std::string languageFilePath;  // held whole: a cut path names another file
  Text<30> languageSection;
};

// The text of `key` in `language.languageSection` of `language.languageFilePath`, as
// UTF-8 for display.
std::string translate(const Language& language, std::string_view key);

}  // namespace kelvor
