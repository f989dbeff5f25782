#include "windows/sound_output.h"

#include <windows.h>
#include <mmsystem.h>

#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

class PlaySoundOutput : public SoundOutput {
 public:
  void play(const std::string& absolutePath) override {
    PlaySoundW(toWide(absolutePath).c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
  }
};

}  // namespace

std::unique_ptr<SoundOutput> makeWin32SoundOutput() { return std::make_unique<PlaySoundOutput>(); }

}  // namespace kelvor
