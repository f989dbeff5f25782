#pragma once
// Sound playback: every WAV the program plays goes through playSoundFile, which hands the
// file to the platform's audio output and returns at once. Names are relative to the
// current directory ("sound\info.wav" is read with "/"); an absolute name is used as it
// stands. A missing file, an unplayable one or no sound device plays nothing, silently.

#include <memory>
#include <string>
#include <string_view>

#include "core/system/system.h"
#include "core/toolkit/text.h"

namespace kelvor {

// The platform's audio output; plays a file asynchronously and never reports failure.
class SoundOutput {
 public:
  virtual ~SoundOutput() = default;
  virtual void play(const std::string& absolutePath) = 0;
};

// The output the program uses; tests install their own.
void setSoundOutput(std::unique_ptr<SoundOutput> output);

// The file a sound name stands for: absolute names unchanged, others under currentDirectory
// with "\" read as "/".
std::string resolveSoundPath(std::string_view name);

// Plays `name` whatever SOUNDENABLE says.
void playSoundFile(std::string_view name);

// The name of the sound last handed to playSoundIfEnabled or showMessage.
ZField<250>& soundName();

// Records `name` in soundName and plays it when `soundEnable` is 1.
void playSoundIfEnabled(std::string_view name, std::uint8_t soundEnable);

}  // namespace kelvor
