#pragma once
// Choosing the language file: the open dialog proposes the file in use; a choice is used at
// once and remembered in KELVOR.INI ([TRANSLATE] FILENAME).

#include <string>

#include "core/i18n/translate.h"
#include "core/system/file_dialog.h"

namespace kelvor {

// Returns true when the user chose a file (the caller then rebuilds its texts).
bool selectLanguageFile(FileDialogs& dialogs, Language& language, const std::string& iniFilePath);

}  // namespace kelvor
