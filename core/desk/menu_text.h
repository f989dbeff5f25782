#pragma once
// The popup menu in its text form: the eleven items and four separators in order, joined by
// "|", each item a check sign ("+" checked, "-" not) followed by its translated text, each
// separator a lone "-". The program keeps the menu as this text (cut at 500 characters) and
// builds the real menu from it, so very long translations lose the last items.

#include <string>
#include <string_view>
#include <vector>

#include "core/i18n/translate.h"

namespace kelvor {

constexpr std::size_t kMenuTextCapacity = 500;

// Looks the eleven texts up in section MAIN (and leaves languageSection there).
std::string buildMenuText(Language& language, bool topChecked);

struct MenuEntry {
  bool separator = false;
  bool checked = false;
  std::string text;
  int item = 0;  // 1..11 for items, counting items only; 0 for separators
};

std::vector<MenuEntry> parseMenuText(std::string_view menuText);

}  // namespace kelvor
