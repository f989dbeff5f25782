#include "core/desk/menu_text.h"

namespace kelvor {
namespace {

// The menu's keys in order; nullptr marks a separator.
constexpr const char* kLayout[] = {"Top",     "About", nullptr, "configuration", "devices", "view",
                                   "test",    "outputs", nullptr, "save",        "load",    nullptr,
                                   "setdefault", nullptr, "selectlang"};

}  // namespace

std::string buildMenuText(Language& language, bool topChecked) {
  language.languageSection = "MAIN";
  std::string text;
  bool first = true;
  for (const char* key : kLayout) {
    if (!first) text += '|';
    first = false;
    if (key == nullptr) {
      text += '-';
      continue;
    }
    const bool checked = topChecked && std::string_view(key) == "Top";
    text += checked ? '+' : '-';
    text += translate(language, key);
  }
  if (text.size() > kMenuTextCapacity) text.resize(kMenuTextCapacity);
  return text;
}

std::vector<MenuEntry> parseMenuText(std::string_view menuText) {
  std::vector<MenuEntry> entries;
  int item = 0;
  std::size_t start = 0;
  while (start <= menuText.size()) {
    auto end = menuText.find('|', start);
    if (end == std::string_view::npos) end = menuText.size();
    const std::string_view piece = menuText.substr(start, end - start);
    MenuEntry entry;
    if (piece == "-") {
      entry.separator = true;
    } else if (!piece.empty()) {
      entry.checked = piece.front() == '+';
      entry.text = std::string(piece.substr(1));
      entry.item = ++item;
    }
    if (!piece.empty()) entries.push_back(entry);
    start = end + 1;
  }
  return entries;
}

}  // namespace kelvor
