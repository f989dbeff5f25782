#include "core/settings/file_commands.h"

#include <cerrno>
#include <cstring>

#include "core/settings/profile_file.h"
#include "core/system/file_dialog.h"

namespace kelvor {
namespace {

constexpr const char* kFilter = "*.KLV|*.KLV";

std::string titleOf(Language& language, const char* key) {
  language.languageSection = "file";
  return translate(language, key);
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
  // Written padded to the field's 255 characters, as older files hold it; never cut.
  writeProfileString(iniFilePath, "FILECONFIG", "RS232", PathText<255>(configFilePath).padded());
}

void saveWindowPosition(const std::string& iniFilePath, int x, int y) {
  const std::string posX = writeNumber(x), posY = writeNumber(y);
  const ProfileValue position[] = {{"SCREEN", "PosX", posX}, {"SCREEN", "PosY", posY}};
  writeProfileStrings(iniFilePath, position);
}

void loadStartupConfiguration(Configuration& config, std::string& configFilePath, const std::string& iniFilePath) {
  configFilePath = readProfileString(iniFilePath, "FILECONFIG", "RS232");
  if (!trimRight(configFilePath).empty()) loadConfiguration(config, trimRight(configFilePath));
}

}  // namespace kelvor
