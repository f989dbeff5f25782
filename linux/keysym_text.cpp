#include "linux/keysym_text.h"

#include <xkbcommon/xkbcommon.h>

#include <QChar>

#include "core/toolkit/encoding.h"

namespace kelvor {

std::vector<std::uint32_t> keysymsOf(std::string_view utf8) {
  std::vector<std::uint32_t> keysyms;
  for (const char32_t c : codePoints(utf8)) {
    if (c == U'\r') {
      keysyms.push_back(kKeysymReturn);
    } else if (c == U'\t') {
      keysyms.push_back(kKeysymTab);
    } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || QChar::category(c) == QChar::Other_NotAssigned ||
               QChar::category(c) == QChar::Other_Surrogate) {
      continue;
    } else if (const xkb_keysym_t keysym = xkb_utf32_to_keysym(c); keysym != XKB_KEY_NoSymbol) {
      keysyms.push_back(keysym);
    }
  }
  return keysyms;
}

}  // namespace kelvor
