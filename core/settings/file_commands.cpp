#include "core/settings/file_commands.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/settings/profile_file.h"
#include "core/system/file_dialog.h"
#include "core/system/system.h"

namespace kelvor {
namespace {

constexpr const char* kFilter = "*.KLV|*.KLV";

std::string titleOf(Language& language, const char* key) {
  language.languageSection = "file";
  return translate(language, key);
}

// Whether anything at all has this name: a file, a folder, a dangling link.
bool nameTaken(const std::string& path) {
  std::error_code error;
  return std::filesystem::symlink_status(std::filesystem::path(std::u8string(path.begin(), path.end())), error).type() !=
         std::filesystem::file_type::not_found;
}

}  // namespace

void saveConfigurationAs(FileDialogs& dialogs, const Configuration& config, std::string& configFilePath,
                         Language& language, Notices& notices) {
  const auto chosen =
      dialogs.choose(FileDialogKind::Save, titleOf(language, "SAVEFILE"), config.NAME.trimmed() + ".KLV", kFilter);
  if (!chosen) return;
  configFilePath = *chosen;
  // The user asked for this save and believes it done: a file that could not be written is
  // said so at once, rather than found missing at the next start.
  if (!saveConfiguration(config, configFilePath)) {
    const std::string cause = std::strerror(errno);
    notices.tell({NoticeKind::Warning, titleOf(language, "SAVEFILE"),
                  "The configuration could not be saved to " + configFilePath + ": " + cause +
                      ". Check that the folder exists, that you may write there and that the disk has room, "
                      "then save again."});
  }
}

void openConfiguration(FileDialogs& dialogs, Configuration& config, std::string& configFilePath, Language& language) {
  const auto chosen = dialogs.choose(FileDialogKind::Open, titleOf(language, "loadfile"), trimRight(configFilePath), kFilter);
  if (!chosen) return;
  configFilePath = *chosen;
  loadConfiguration(config, configFilePath);
}

void selectDefaultConfiguration(FileDialogs& dialogs, std::string& configFilePath, const std::string& iniFilePath,
                                Language& language) {
  const auto chosen =
      dialogs.choose(FileDialogKind::Open, titleOf(language, "selectfile"), trimRight(configFilePath), kFilter);
  if (!chosen) return;
  configFilePath = *chosen;
  writeProfileString(iniFilePath, "FILECONFIG", "RS232", nativePath(configFilePath));
}

void saveWindowPosition(const std::string& iniFilePath, int x, int y) {
  const std::string posX = writeNumber(x), posY = writeNumber(y);
  const ProfileValue position[] = {{"SCREEN", "PosX", posX}, {"SCREEN", "PosY", posY}};
  writeProfileStrings(iniFilePath, position);
}

Configuration readyConfiguration() {
  Configuration config;
  config.NAME = "KELVOR";
  config.ENABLESERVERDDE = 1;
  config.BAUDRATE = 9600;
  config.PARITY = 0;
  config.DATABITS = 8;
  config.STOPBITS = 1;
  config.SELECTENDOF = 1;
  config.ENDOFCHAR = 2;
  config.ENABLECLEAR = 0;
  return config;
}

void seedFirstStart(const std::string& folder, const std::string& languageFile) {
  const std::string ini = folder + "/KELVOR.INI";
  const std::string configuration = folder + "/" + kReadyConfigurationName;
  if (nameTaken(ini) || nameTaken(configuration)) return;
  if (!saveConfiguration(readyConfiguration(), configuration)) return;
  const std::string configurationPath = nativePath(configuration), languagePath = nativePath(languageFile);
  const ProfileValue values[] = {{"FILECONFIG", "RS232", configurationPath}, {"TRANSLATE", "FILENAME", languagePath}};
  writeProfileStrings(ini, values);
}

void loadStartupConfiguration(Configuration& config, std::string& configFilePath, const std::string& iniFilePath) {
  configFilePath = readProfileString(iniFilePath, "FILECONFIG", "RS232");
  if (!trimRight(configFilePath).empty()) loadConfiguration(config, trimRight(configFilePath));
}

}  // namespace kelvor
