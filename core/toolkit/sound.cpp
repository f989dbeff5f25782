#include "core/toolkit/sound.h"

#include "core/system/system.h"

namespace kelvor {
namespace {

std::unique_ptr<SoundOutput>& output() {
  static std::unique_ptr<SoundOutput> instance;
  return instance;
}

}  // namespace

void setSoundOutput(std::unique_ptr<SoundOutput> soundOutput) { output() = std::move(soundOutput); }

std::string resolveSoundPath(std::string_view name) {
  std::string path = trimRight(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (isAbsolutePath(path)) return path;
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
