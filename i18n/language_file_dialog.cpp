#include "i18n/language_file_dialog.h"

#include "platform/profile_file.h"
#include "toolkit/file_dialog.h"

namespace kelvor {

bool selectLanguageFile(Language& language, const std::string& iniFilePath) {
  language.languageSection = "file";
  const auto chosen = chooseFile(FileDialogKind::Open, translate(language, "selectlangfile"),
                                 language.languageFilePath, "*.LAN|*.LAN");
  if (!chosen) return false;
  language.languageFilePath = *chosen;
  writeProfileString(iniFilePath, "TRANSLATE", "FILENAME", language.languageFilePath);
  return true;
}

}  // namespace kelvor
