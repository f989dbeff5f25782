#pragma once
// Sound output through Qt Multimedia: each WAV is decoded in memory and played on the
// default audio device without waiting for it. No device, a missing file or an unreadable
// one plays nothing.

#include <memory>

#include "core/toolkit/sound.h"

namespace kelvor {

std::unique_ptr<SoundOutput> makeQtSoundOutput();

}  // namespace kelvor
