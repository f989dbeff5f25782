#include "toolkit/sound.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace kelvor {
namespace {

std::unique_ptr<SoundOutput>& output() {
  static std::unique_ptr<SoundOutput> instance;
  return instance;
}

}  // namespace

void setSoundOutput(std::unique_ptr<SoundOutput> soundOutput) { output() = std::move(soundOutput); }

std::string currentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  std::string dir(buffer.data());
  while (!dir.empty() && dir.back() == '/') dir.pop_back();  // the root gives ""
  return dir;
}

std::string resolveSoundPath(std::string_view name) {
  std::string path = trimRight(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (!path.empty() && path.front() == '/') return path;
  return currentDirectory() + "/" + path;
}

void playSoundFile(std::string_view name) {
  // A name with blanks inside is played like any other: the file is handed over as a path,
  // never through a command line that would split it.
  if (trimRight(name).empty() || !output()) return;
  output()->play(resolveSoundPath(name));
}

ZField<250>& soundName() {
  static ZField<250> name;
  return name;
}

void playSoundIfEnabled(std::string_view name, std::uint8_t soundEnable) {
  soundName() = trimRight(name);
  if (soundEnable == 1) playSoundFile(soundName().str());
}

}  // namespace kelvor
