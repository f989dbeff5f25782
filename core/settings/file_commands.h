#pragma once
// The main window's three file commands for configurations: save under a chosen name, load
// a chosen file, choose the file loaded at the next start. Each shows a standard file dialog
// titled from the language file (section `file`); a cancelled dialog changes nothing.

#include <string>

#include "core/settings/configuration.h"
#include "core/i18n/translate.h"
#include "core/system/file_dialog.h"
#include "core/toolkit/notices.h"

namespace kelvor {

// A file that cannot be written is told through `notices` at once.
void saveConfigurationAs(FileDialogs& dialogs, const Configuration& config, std::string& configFilePath,
                         Language& language, Notices& notices);
void openConfiguration(FileDialogs& dialogs, Configuration& config, std::string& configFilePath, Language& language);
// Names the chosen file in KELVOR.INI ([FILECONFIG] RS232) without loading it.
void selectDefaultConfiguration(FileDialogs& dialogs, std::string& configFilePath, const std::string& iniFilePath, Language& language);

// Writes the window's position to KELVOR.INI ([SCREEN] PosX and PosY), both in one write,
// so that a crash never leaves a corner half moved.
void saveWindowPosition(const std::string& iniFilePath, int x, int y);

// The configuration a new folder starts with: 9600 bits/s, 8 data bits, no parity, 1 stop
// bit on COM1, frames ending at CR LF, the DDE server on, no keystrokes. The buffer is kept
// after each frame: clearing it would drop every reading that arrived in the same read as
// the one before.
Configuration readyConfiguration();
inline constexpr const char* kReadyConfigurationName = "KELVOR.KLV";

// The first start in a new folder the shipped files were just copied into: KELVOR.INI names
// the language file `languageFile` and KELVOR.KLV, written with readyConfiguration(), as the
// start-up configuration, so that Run works at once and no dialog stands in the way. Nothing
// is written when KELVOR.INI or KELVOR.KLV already exists.
void seedFirstStart(const std::string& folder, const std::string& languageFile);

// Reads [FILECONFIG] RS232 of KELVOR.INI into configFilePath and loads that file when named.
void loadStartupConfiguration(Configuration& config, std::string& configFilePath, const std::string& iniFilePath);

}  // namespace kelvor
