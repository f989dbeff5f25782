#pragma once
// Reading WAV files of every PCM kind a user may pick (8-bit unsigned, 16/24/32-bit signed
// integer, 32/64-bit float, plain or "extensible" headers) into 16-bit samples that any
// sound device plays.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvor {

struct PcmSound {
  int channels = 0;
  int sampleRate = 0;
  std::vector<std::int16_t> samples;  // interleaved
};

// Nothing when the bytes are not a WAV file this program can play.
std::optional<PcmSound> decodeWav(std::string_view bytes);

}  // namespace kelvor
