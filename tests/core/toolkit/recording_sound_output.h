#pragma once
// A sound output for tests: remembers every file it was asked to play.

#include <string>
#include <vector>

#include "core/toolkit/sound.h"

namespace kelvor {

class RecordingSoundOutput : public SoundOutput {
 public:
  explicit RecordingSoundOutput(std::vector<std::string>& played) : played_(played) {}
  void play(const std::string& path) override { played_.push_back(path); }

 private:
  std::vector<std::string>& played_;
};

}  // namespace kelvor
