#pragma once
// Sound output through PlaySound: asynchronous, from the file, never the system's default
// sound in its place. No device, a missing file or an unreadable one plays nothing.

#include <memory>

#include "core/toolkit/sound.h"

namespace kelvor {

std::unique_ptr<SoundOutput> makeWin32SoundOutput();

}  // namespace kelvor
