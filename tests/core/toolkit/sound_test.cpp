#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "tests/core/toolkit/recording_sound_output.h"
#include "core/toolkit/sound.h"
#include "core/toolkit/wav_file.h"

namespace kelvor {
namespace {

class SoundPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    setSoundOutput(std::make_unique<RecordingSoundOutput>(played_));
    previous_ = std::filesystem::current_path();
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    setSoundOutput(nullptr);
  }
  std::vector<std::string> played_;
  std::filesystem::path previous_;
};

TEST_F(SoundPlayback, NamesAreTakenRelativeToTheWorkingDirectoryWithSlashes) {
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  std::filesystem::current_path(temp);
  const std::string here = currentDirectory();
  playSoundFile("sound\\info.wav   ");
  std::filesystem::current_path(temp.root_path());
  const std::string root = currentDirectory();
  playSoundFile("sound\\info.wav");
  ASSERT_EQ(played_.size(), 2u);
  EXPECT_EQ(std::filesystem::path(here), std::filesystem::canonical(temp));
  EXPECT_EQ(played_[0], here + "/sound/info.wav");
  // The root gives no separator of its own ("" here, "C:" on Windows), so one separator follows.
  EXPECT_EQ(root.find_first_of("/\\"), std::string::npos) << root;
  EXPECT_EQ(played_[1], root + "/sound/info.wav");
}

TEST_F(SoundPlayback, AbsoluteNamesAndNamesWithBlanksArePlayedAsTheyStand) {
  playSoundFile("/home/bench user/key click.wav" + std::string(200, ' '));
  ASSERT_EQ(played_.size(), 1u);
  EXPECT_EQ(played_[0], "/home/bench user/key click.wav");
  playSoundFile("    ");
  EXPECT_EQ(played_.size(), 1u);  // nothing to play
}

TEST_F(SoundPlayback, OnlyTheGeneralSwitchSilencesPlaySoundIfEnabled) {
  playSoundIfEnabled("/a/key.wav   ", 0);
  EXPECT_TRUE(played_.empty());
  EXPECT_EQ(soundName().str(), "/a/key.wav");  // recorded all the same
  playSoundIfEnabled("/a/dde.wav", 1);
  EXPECT_EQ(played_, (std::vector<std::string>{"/a/dde.wav"}));
  playSoundIfEnabled(std::string(300, 'x'), 0);
  EXPECT_EQ(soundName().size(), 249u);
}

// A WAV file in memory: one chunk "fmt " and one "data".
std::string wav(std::uint16_t format, int channels, int rate, int bits, const std::string& data,
                bool extensible = false) {
  auto le = [](std::uint32_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
  };
  std::string fmt = le(extensible ? 0xFFFE : format, 2) + le(static_cast<std::uint32_t>(channels), 2) +
                    le(static_cast<std::uint32_t>(rate), 4) +
                    le(static_cast<std::uint32_t>(rate * channels * bits / 8), 4) +
                    le(static_cast<std::uint32_t>(channels * bits / 8), 2) + le(static_cast<std::uint32_t>(bits), 2);
  if (extensible) fmt += le(22, 2) + le(static_cast<std::uint32_t>(bits), 2) + le(0, 4) + le(format, 2) + std::string(14, '\0');
  std::string body = "WAVE" + std::string("LIST") + le(3, 4) + "abc" + std::string(1, '\0') +  // odd chunk, padded
                     "fmt " + le(static_cast<std::uint32_t>(fmt.size()), 4) + fmt + "data" +
                     le(static_cast<std::uint32_t>(data.size()), 4) + data;
  return "RIFF" + le(static_cast<std::uint32_t>(body.size()), 4) + body;
}

TEST(WavFile, DecodesEveryPcmKindToSixteenBits) {
  float half = 0.5f;
  std::string f32(4, '\0');
  std::memcpy(f32.data(), &half, 4);
  double quarter = -0.25;
  std::string f64(8, '\0');
  std::memcpy(f64.data(), &quarter, 8);
  struct Case {
    const char* name;
    std::string file;
    std::int16_t first;
  };
  const Case cases[] = {
      {"8-bit unsigned", wav(1, 1, 8000, 8, std::string("\xC0\x40", 2)), 0x4000},
      {"16-bit", wav(1, 2, 44100, 16, std::string("\x34\x12\xCC\xED", 4)), 0x1234},
      {"24-bit", wav(1, 1, 48000, 24, std::string("\x00\x34\x12", 3)), 0x1234},
      {"32-bit", wav(1, 1, 48000, 32, std::string("\x00\x00\x00\x80", 4)), -32768},
      {"32-bit float", wav(3, 1, 48000, 32, f32), 16384},
      {"64-bit float", wav(3, 1, 48000, 64, f64), -8192},
      {"extensible 24-bit", wav(1, 1, 96000, 24, std::string("\xFF\xFF\x7F", 3), true), 32767},
  };
  for (const Case& c : cases) {
    const auto sound = decodeWav(c.file);
    ASSERT_TRUE(sound.has_value()) << c.name;
    ASSERT_FALSE(sound->samples.empty()) << c.name;
    EXPECT_EQ(sound->samples[0], c.first) << c.name;
  }
  EXPECT_EQ(decodeWav(cases[1].file)->channels, 2);
  EXPECT_EQ(decodeWav(cases[1].file)->samples.size(), 2u);
}

TEST(WavFile, RefusesWhatIsNotAPlayableWav) {
  EXPECT_FALSE(decodeWav(""));
  EXPECT_FALSE(decodeWav("RIFF\x10\0\0\0WAVEjunk"));
  EXPECT_FALSE(decodeWav(wav(2, 1, 8000, 4, "abcd")));      // ADPCM
  EXPECT_FALSE(decodeWav(wav(1, 0, 8000, 16, "abcd")));     // no channels
  EXPECT_FALSE(decodeWav(wav(1, 1, 8000, 12, "abcd")));     // odd sample size
  // A file cut short plays what it holds instead of reading past its end.
  const std::string whole = wav(1, 1, 8000, 16, std::string(1000, '\x01'));
  const auto cut = decodeWav(whole.substr(0, whole.size() - 501));
  ASSERT_TRUE(cut.has_value());
  EXPECT_EQ(cut->samples.size(), 249u);
}

}  // namespace
}  // namespace kelvor
