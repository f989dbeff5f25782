#include "core/toolkit/wav_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kelvor {
namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

std::uint32_t le(std::string_view b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

std::int16_t fromFloat(double v) {
  v = std::clamp(v, -1.0, 1.0);
  return static_cast<std::int16_t>(std::lround(v * 32767.0));
}

std::int16_t sampleAt(std::string_view data, std::size_t at, std::uint16_t format, int bits) {
  if (format == kFormatFloat) {
    if (bits == 32) {
      float f = 0;
      const std::uint32_t raw = le(data, at, 4);
      std::memcpy(&f, &raw, 4);
      return std::isfinite(f) ? fromFloat(f) : 0;
    }
    std::uint64_t raw = le(data, at, 4) | (static_cast<std::uint64_t>(le(data, at + 4, 4)) << 32);
    double d = 0;
    std::memcpy(&d, &raw, 8);
    return std::isfinite(d) ? fromFloat(d) : 0;
  }
  switch (bits) {
    case 8: return static_cast<std::int16_t>((static_cast<int>(static_cast<unsigned char>(data[at])) - 128) << 8);
    case 16: return static_cast<std::int16_t>(le(data, at, 2));
    case 24: return static_cast<std::int16_t>(le(data, at + 1, 2));  // the top two bytes
    default: return static_cast<std::int16_t>(le(data, at + 2, 2));  // 32-bit: the top two bytes
  }
}

}  // namespace

std::optional<PcmSound> decodeWav(std::string_view bytes) {
  if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE") return std::nullopt;
  std::uint16_t format = 0;
  int channels = 0, rate = 0, bits = 0;
  std::string_view data;
  bool haveFormat = false, haveData = false;
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const std::string_view id = bytes.substr(at, 4);
    const std::size_t size = le(bytes, at + 4, 4);
    const std::size_t body = at + 8;
    const std::size_t available = std::min(size, bytes.size() - body);
    if (id == "fmt " && available >= 16) {
      format = static_cast<std::uint16_t>(le(bytes, body, 2));
      channels = static_cast<int>(le(bytes, body + 2, 2));
      rate = static_cast<int>(le(bytes, body + 4, 4));
      bits = static_cast<int>(le(bytes, body + 14, 2));
      if (format == kFormatExtensible && available >= 26) format = static_cast<std::uint16_t>(le(bytes, body + 24, 2));
      haveFormat = true;
    } else if (id == "data") {
      data = bytes.substr(body, available);  // a truncated file plays what it holds
      haveData = true;
    }
    if (size > bytes.size()) break;
    at = body + size + (size & 1);  // chunks are padded to even sizes
  }
  const bool integerOk = format == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool floatOk = format == kFormatFloat && (bits == 32 || bits == 64);
  if (!haveFormat || !haveData || !(integerOk || floatOk) || channels < 1 || channels > 8 || rate < 1000 ||
      rate > 384000) {
    return std::nullopt;
  }
  PcmSound sound;
  sound.channels = channels;
  sound.sampleRate = rate;
  const std::size_t step = static_cast<std::size_t>(bits / 8);
  const std::size_t frame = step * static_cast<std::size_t>(channels);
  const std::size_t count = (data.size() / frame) * static_cast<std::size_t>(channels);
  sound.samples.reserve(count);
  for (std::size_t i = 0; i < count; ++i) sound.samples.push_back(sampleAt(data, i * step, format, bits));
  return sound;
}

}  // namespace kelvor
