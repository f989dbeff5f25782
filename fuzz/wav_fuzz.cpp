// The WAV decoder on any file a user may pick as a sound. A decoded sound has a channel
// count and a rate a device can take, and whole frames of samples, never more than the
// file holds.

#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "core/toolkit/wav_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto sound = kelvor::decodeWav(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!sound) return 0;
  FUZZ_CHECK(sound->channels >= 1 && sound->channels <= 8, "%d channels", sound->channels);
  FUZZ_CHECK(sound->sampleRate >= 1000 && sound->sampleRate <= 384000, "rate %d", sound->sampleRate);
  FUZZ_CHECK(sound->samples.size() % static_cast<std::size_t>(sound->channels) == 0, "%zu samples for %d channels",
             sound->samples.size(), sound->channels);
  FUZZ_CHECK(sound->samples.size() <= size, "%zu samples from %zu bytes", sound->samples.size(), size);
  return 0;
}
