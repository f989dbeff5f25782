#include "platform/keysym_text.h"

#include <xkbcommon/xkbcommon.h>

#include <QList>
#include <QString>

namespace kelvor {

std::vector<std::uint32_t> keysymsOf(std::string_view utf8) {
  std::vector<std::uint32_t> keysyms;
  const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  for (const char32_t c : text.toUcs4()) {
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
