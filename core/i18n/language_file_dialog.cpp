#include "core/i18n/language_file_dialog.h"

#include "core/settings/profile_file.h"
#include "core/system/system.h"

namespace kelvor {

bool selectLanguageFile(FileDialogs& dialogs, Language& language, const std::string& iniFilePath) {
  language.languageSection = "file";
  const auto chosen = dialogs.choose(FileDialogKind::Open, translate(language, "selectlangfile"),
                                     language.languageFilePath, "*.LAN|*.LAN");
  if (!chosen) return false;
  language.languageFilePath = *chosen;
  writeProfileString(iniFilePath, "TRANSLATE", "FILENAME", nativePath(language.languageFilePath));
  return true;
}

}  // namespace kelvor
