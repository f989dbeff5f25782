#include "core/line/receive_pipeline.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/settings/file_commands.h"
#include "fake_serial_library.h"

namespace kelvor {
namespace {

using testing::FakeSerialLibrary;

Configuration endCharConfig(std::uint8_t endOfChar = 1) {
  Configuration config;
  config.SELECTENDOF = 1;
  config.ENDOFCHAR = endOfChar;
  return config;
}

Configuration byteCountConfig(std::int32_t count) {
  Configuration config;
  config.SELECTENDOF = 2;
  config.NUMBEROFBYTE = count;
  return config;
}

Configuration endStringConfig(std::string_view terminator) {
  Configuration config;
  config.SELECTENDOF = 3;
  config.ENDOFSTRING = terminator;
  return config;
}

// Feeds one read per poll (then empty polls) and returns what each poll cut: the frame's
// text, or "-" when no frame was cut. Checks on every poll that frameBufferLength is the
// number of characters the buffer really holds.
std::vector<std::string> framesPerPoll(const Configuration& config, std::vector<std::string> reads, int polls,
                                       Reception* out = nullptr) {
  Reception reception;
  FakeSerialLibrary library;
  library.reads.assign(reads.begin(), reads.end());
  std::vector<std::string> frames;
  for (int i = 0; i < polls; ++i) {
    readPort(config, reception, library);
    EXPECT_EQ(reception.frameBufferLength, static_cast<std::int32_t>(reception.frameBuffer.size()));
    const bool cut = cutFrame(config, reception);
    EXPECT_EQ(reception.frameBufferLength, static_cast<std::int32_t>(reception.frameBuffer.size()));
    frames.push_back(cut ? reception.rawFrame.trimmed() : "-");
  }
  if (out) *out = reception;
  return frames;
}

using Frames = std::vector<std::string>;

struct FramingCase {
  const char* behaviour;
  Configuration config;
  std::vector<std::string> reads;
  Frames expected;  // one entry per poll
  std::string keptAfter;
  friend void PrintTo(const FramingCase& c, std::ostream* os) { *os << c.behaviour; }
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, CutsOneFramePerPollAndKeepsTheRest) {
  const FramingCase& c = GetParam();
  Reception reception;
  EXPECT_EQ(framesPerPoll(c.config, c.reads, static_cast<int>(c.expected.size()), &reception), c.expected)
      << c.behaviour;
  EXPECT_EQ(reception.frameBuffer.str(), c.keptAfter) << c.behaviour;
}

const std::string kCR = "\r";

INSTANTIATE_TEST_SUITE_P(
    AllModes, Framing,
    ::testing::Values(
        FramingCase{"CR: two frames in one read arrive on two polls", endCharConfig(1), {"12.5\r7.1\r"},
                    {"12.5", "7.1", "-"}, ""},
        FramingCase{"CR: a frame waits for its terminator", endCharConfig(1), {"12", ".5", "\r3"},
                    {"-", "-", "12.5"}, "3"},
        FramingCase{"CR: terminator first in the buffer gives an empty frame", endCharConfig(1), {"\r9"},
                    {"", "-"}, "9"},
        FramingCase{"CR as the last character of a full buffer", endCharConfig(1),
                    {std::string(2548, 'x') + "\r"}, {std::string(2548, 'x'), "-"}, ""},
        FramingCase{"end string ending exactly at the buffer's capacity", endStringConfig("END"),
                    {std::string(2000, 'y'), std::string(546, 'y') + "END"}, {"-", std::string(2546, 'y')}, ""},
        FramingCase{"CR LF: 12.5 CR LF 3 keeps 3", endCharConfig(2), {"12.5\r\n3"}, {"12.5", "-"}, "3"},
        FramingCase{"CR LF split across two reads", endCharConfig(2), {"12.5\r", "\n3"}, {"-", "12.5"}, "3"},
        FramingCase{"CR LF: a lone CR is part of the frame", endCharConfig(2), {"a\rb\r\n"}, {"a\rb"}, ""},
        FramingCase{"ENDOFCHAR other than 1 or 2 cuts nothing", endCharConfig(3), {"12\r\n"}, {"-", "-"},
                    "12\r\n"},
        FramingCase{"byte count: 12 characters give two frames of 5 and keep 2", byteCountConfig(5),
                    {"ABCDEFGHIJKL"}, {"ABCDE", "FGHIJ", "-"}, "KL"},
        FramingCase{"byte count: a record completed by the next read", byteCountConfig(4), {"AB", "CDEF"},
                    {"-", "ABCD"}, "EF"},
        FramingCase{"byte count 0 cuts no frames", byteCountConfig(0), {"ABC"}, {"-", "-"}, "ABC"},
        FramingCase{"negative byte count cuts no frames", byteCountConfig(-3), {"ABC"}, {"-"}, "ABC"},
        FramingCase{"end string: trailing blanks of the setting are ignored", endStringConfig("END   "),
                    {"1.5END2END"}, {"1.5", "2", "-"}, ""},
        FramingCase{"end string split across reads", endStringConfig("END"), {"1.5E", "N", "Dx"},
                    {"-", "-", "1.5"}, "x"},
        FramingCase{"all-blank end string never cuts", endStringConfig("   "), {"1   2"}, {"-"}, "1   2"},
        FramingCase{"an unknown mode cuts nothing", [] {
                      Configuration c = endCharConfig(1);
                      c.SELECTENDOF = 4;
                      return c;
                    }(),
                    {"1\r"}, {"-"}, "1\r"}));

TEST(ZeroBytes, AreDataAndCountInTheBufferLength) {
  Reception reception;
  const std::string withZero("1\0" "2\r3", 5);
  EXPECT_EQ(framesPerPoll(endCharConfig(1), {withZero}, 1, &reception), Frames{std::string("1\0" "2", 3)});
  EXPECT_EQ(reception.frameBuffer.str(), "3");
  EXPECT_EQ(reception.frameBufferLength, 1);
}

TEST(ZeroBytes, DoNotMisalignByteCountRecords) {
  const std::string records("A\0CDE" "FGHIJ", 10);
  EXPECT_EQ(framesPerPoll(byteCountConfig(5), {records}, 2), (Frames{std::string("A\0CDE", 5), "FGHIJ"}));
}

std::string repeatFrames(const std::string& frame, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += frame;
  return out;
}

TEST(BacklogBound, KeepsWholeFramesBehindAFrameForTheNextCuts) {
  // 40 frames of 10 characters after the first: all wait for the next cuts, none is dropped.
  for (const auto& [config, frame] : {std::pair{endCharConfig(1), std::string("+0012.500\r")},
                                      std::pair{endStringConfig("END"), std::string("123456END")},
                                      std::pair{byteCountConfig(10), std::string("R12345678;")}}) {
    Reception reception;
    framesPerPoll(config, {frame + repeatFrames(frame, 40)}, 1, &reception);
    EXPECT_EQ(reception.frameBuffer.str(), repeatFrames(frame, 40)) << frame;
    EXPECT_FALSE(reception.resync.active);
  }
}

TEST(BacklogBound, SkipsTheRestOfAnUnfinishedFrameOfMoreThan255Characters) {
  // After the first frame 266 characters of a frame without its end follow: they are dropped
  // and the tail that arrives later must never be joined to another reading.
  const std::string unfinished = "+0012." + std::string(260, '5');
  const Frames frames = framesPerPoll(endCharConfig(1), {"first\r" + unfinished, "61 g\r+0013.00 g\r"}, 3);
  EXPECT_EQ(frames, (Frames{"first", "+0013.00 g", "-"}));
}

TEST(BacklogBound, ResyncFindsACrLfSplitAcrossReads) {
  const std::string unfinished = "+00" + std::string(253, '1');  // 256 characters
  const Frames frames = framesPerPoll(endCharConfig(2), {"a\r\n" + unfinished, "12.5", "\r", "\n7\r\n"}, 5);
  EXPECT_EQ(frames, (Frames{"a", "-", "-", "7", "-"}));  // "+00...12.5" CR LF was skipped whole
}

TEST(BacklogBound, ByteCountRealignsIncomingDataAfterAnUnfinishedRecordIsDropped) {
  // Records of 300: 260 characters of the next record follow the first; its 40 missing
  // characters are skipped when they come, and the record after it arrives whole.
  const std::string record(300, 'r'), next(300, 'n');
  const Frames frames =
      framesPerPoll(byteCountConfig(300), {record + std::string(260, 'p'), std::string(40, 'p') + next}, 3);
  EXPECT_EQ(frames, (Frames{record, next, "-"}));
}

TEST(Overflow, ABufferFullOfGarbageRecoversAtTheNextTerminator) {
  const std::string garbage(2549, 'g');
  const Frames frames = framesPerPoll(endCharConfig(1), {garbage, "ggg\r5.0\r", "6.0\r"}, 4);
  EXPECT_EQ(frames, (Frames{"-", "5.0", "6.0", "-"}));
}

TEST(Overflow, DropsTheOldestWholeFramesFirst) {
  // 2540 characters of complete frames waiting (no poll cut them: ENABLE via cutFrame only
  // once), then 20 more: the oldest frames go, the buffer still starts at a frame.
  Reception reception;
  const Configuration config = endCharConfig(1);
  appendReceived(config, reception, repeatFrames("abcdefghi\r", 254));
  appendReceived(config, reception, repeatFrames("ABCDEFGHI\r", 2));
  EXPECT_LE(reception.frameBuffer.size(), 2549u);
  EXPECT_EQ(reception.frameBuffer.str().substr(0, 10), "abcdefghi\r");
  EXPECT_EQ(reception.frameBuffer.str().substr(reception.frameBuffer.size() - 20), repeatFrames("ABCDEFGHI\r", 2));
  EXPECT_EQ(reception.frameBufferLength, static_cast<std::int32_t>(reception.frameBuffer.size()));
}

TEST(Overflow, ByteCountDropsWholeRecords) {
  Reception reception;
  const Configuration config = byteCountConfig(7);
  appendReceived(config, reception, std::string(2548, 'a'));  // 364 records
  appendReceived(config, reception, "bbbbbbb");
  ASSERT_TRUE(cutFrame(config, reception));
  EXPECT_EQ(reception.rawFrame.trimmed(), "aaaaaaa");
  EXPECT_EQ(reception.frameBuffer.size() % 7, 0u);
}

TEST(Overflow, WithoutFramingKeepsTheNewest2549Characters) {
  Reception reception;
  Configuration config;  // SELECTENDOF 0
  appendReceived(config, reception, std::string(2549, 'a'));
  appendReceived(config, reception, "xyz");
  EXPECT_EQ(reception.frameBuffer.size(), 2549u);
  EXPECT_EQ(reception.frameBuffer.str().substr(2546), "xyz");
}

// Whatever the chunking, a fast instrument never gets a corrupted reading delivered, and
// frameBufferLength always matches the buffer. Frames are numbered so that a joined or cut
// reading cannot look like a sent one.
struct FloodCase {
  const char* name;
  Configuration config;
  std::string terminator;  // appended to each frame (empty for byte count)
  friend void PrintTo(const FloodCase& c, std::ostream* os) { *os << c.name; }
};

class Flood : public ::testing::TestWithParam<FloodCase> {};

TEST_P(Flood, NeverDeliversACorruptedReading) {
  const FloodCase& c = GetParam();
  std::mt19937 random(42);
  std::set<std::string> sent;
  std::string stream;
  for (int i = 0; i < 4000; ++i) {
    char frame[16];
    std::snprintf(frame, sizeof frame, "+%07d.5 g", i);  // 12 characters
    sent.insert(frame);
    stream += frame + c.terminator;
  }
  std::vector<std::string> reads;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 900)(random);
    reads.push_back(stream.substr(at, n));
    at += n;
  }
  const Frames frames = framesPerPoll(c.config, reads, 4400);
  int delivered = 0;
  std::string last;
  for (const auto& f : frames) {
    if (f == "-") continue;
    ++delivered;
    last = f;
    EXPECT_TRUE(sent.count(f)) << c.name << ": corrupted reading \"" << f << "\"";
  }
  // One frame per cut; what the buffer cannot hold waits in the port, so none is lost.
  EXPECT_EQ(delivered, 4000) << c.name;
  EXPECT_EQ(readNumber(last.substr(1)), 3999) << c.name << ": last reading " << last;
}

// The desk stalled while 4,000 readings arrived: the port holds them all. The polls that
// follow take only what the buffer has room for and hand on every reading, once, in order.
TEST_P(Flood, AStalledDeskLosesNoReading) {
  const FloodCase& c = GetParam();
  Reception reception;
  reception.isRunning = 1;
  FakeSerialLibrary library;
  std::vector<std::string> sent;
  std::string stream;
  for (int i = 0; i < 4000; ++i) {
    char frame[16];
    std::snprintf(frame, sizeof frame, "+%07d.5 g", i);
    sent.emplace_back(frame);
    stream += frame + c.terminator;
  }
  library.reads = {stream};
  std::vector<std::string> delivered;
  PollHooks hooks;
  hooks.deliver = [&](const Text<2550>& frame, const Text<2550>&) { delivered.push_back(frame.trimmed()); };
  for (int i = 0; i < 100 && !library.reads.empty(); ++i) {
    const std::size_t held = reception.frameBuffer.size();
    poll(c.config, reception, library, hooks);
    EXPECT_LE(held + library.asked.back(), 2549u) << c.name << ": read more than the buffer keeps";
  }
  EXPECT_EQ(delivered, sent) << c.name;
}

INSTANTIATE_TEST_SUITE_P(AllModes, Flood,
                         ::testing::Values(FloodCase{"CR", endCharConfig(1), "\r"},
                                           FloodCase{"CRLF", endCharConfig(2), "\r\n"},
                                           FloodCase{"END", endStringConfig("<E>"), "<E>"},
                                           FloodCase{"bytes", byteCountConfig(12), ""}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ConversionCase {
  std::string text;
  std::string expected;
};

class ValueConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ValueConversion, ReadsTheLeadingNumber) { EXPECT_EQ(convertValue(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, ValueConversion,
    ::testing::Values(ConversionCase{"   +012.50 mm", "12.5"}, ConversionCase{"abc", "0"}, ConversionCase{"", "0"},
                      ConversionCase{"-0.00", "0"}, ConversionCase{"-3.250g", "-3.25"},
                      ConversionCase{"12.", "12"}, ConversionCase{".5", "0.5"}, ConversionCase{"-", "0"},
                      ConversionCase{"+", "0"}, ConversionCase{"- 5", "0"}, ConversionCase{"1.5E-3 V", "0.0015"},
                      ConversionCase{"2e", "2"}, ConversionCase{"7E+", "7"}, ConversionCase{"1e999", "0"},
                      ConversionCase{"123456789.123456789", "123456789.12346"},
                      ConversionCase{"0.000123456789012345", "0.00012345678901234"},
                      ConversionCase{"12,5", "12"}, ConversionCase{"\t5", "0"},
                      // Only the first 39 characters are read.
                      ConversionCase{std::string(38, ' ') + "7", "7"},
                      ConversionCase{std::string(39, ' ') + "7", "0"},
                      ConversionCase{"  42     ", "42"}));

struct FilterCase {
  std::uint8_t filter;
  std::int32_t start;
  std::int32_t length;
  std::uint8_t convert;
  std::string raw;
  std::string expected;
};

class FilterAndConvert : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterAndConvert, KeepsTheSubstringThenConverts) {
  const FilterCase& c = GetParam();
  Configuration config;
  config.LENFILTERENABLE = c.filter;
  config.LENFILTERSTART = c.start;
  config.LENFILTEREND = c.length;
  config.ENABLECONVERTVALUE = c.convert;
  EXPECT_EQ(filterAndConvert(config, Text<2550>(c.raw)).trimmed(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FilterAndConvert,
                         ::testing::Values(FilterCase{1, 3, 4, 0, "ABCDEFGH", "CDEF"},
                                           FilterCase{0, 3, 4, 0, "ABCDEFGH", "ABCDEFGH"},
                                           FilterCase{2, 3, 4, 0, "ABCDEFGH", "ABCDEFGH"},
                                           FilterCase{1, 0, 2, 0, "ABCDEFGH", "AB"},
                                           FilterCase{1, 7, -1, 0, "ABCDEFGH", "GH"},
                                           FilterCase{1, 20, 5, 0, "ABCDEFGH", ""},
                                           // The filter reads the padded frame: a negative start
                                           // counts back from the end of 2550 characters.
                                           FilterCase{1, -3, 3, 0, "ABCDEFGH", ""},
                                           FilterCase{1, 4, 6, 1, "N1  +012.50 mm", "12"},
                                           FilterCase{1, 5, 10, 1, "N1  +012.50 mm", "12.5"},
                                           FilterCase{0, 0, 0, 1, "GS  -0.123 kg", "0"}));

// --- the poll as the desk's tick runs it ---

struct PollRun {
  Configuration config = endCharConfig(1);
  Reception reception;
  FakeSerialLibrary library;
  std::vector<std::string> lamps;
  std::vector<std::pair<std::string, std::string>> delivered;  // frame, value

  PollRun() { reception.isRunning = 1; }
  void poll() {
    PollHooks hooks;
    hooks.showLamps = [this](bool green, bool red) {
      lamps.push_back(std::string(green ? "G" : "g") + (red ? "R" : "r"));
    };
    hooks.deliver = [this](const Text<2550>& frame, const Text<2550>& value) {
      delivered.emplace_back(frame.trimmed(), value.trimmed());
    };
    kelvor::poll(config, reception, library, hooks);
  }
};

TEST(Poll, DoesNothingWhileReceptionIsStopped) {
  PollRun run;
  run.reception.isRunning = 0;
  run.library.reads = {"1\r"};
  run.poll();
  EXPECT_EQ(run.library.getCount, 0);
  EXPECT_TRUE(run.lamps.empty());
}

TEST(Poll, LightsGreenForEveryPollAndRedOnlyWhenBytesArrived) {
  PollRun run;
  run.config.PORT = 3;
  run.library.reads = {"1"};
  run.poll();
  run.poll();
  EXPECT_EQ(run.lamps, (std::vector<std::string>{"Gr", "GR", "gr", "Gr", "gr"}));
  EXPECT_EQ(run.library.lastGetPort, 3);
}

TEST(Poll, ClearOptionDiscardsWhatFollowsEachFrame) {
  PollRun run;
  run.config.ENABLECLEAR = 1;
  run.library.reads = {"1\r2\r3"};
  run.poll();
  run.poll();
  EXPECT_EQ(run.reception.currentFrame.trimmed(), "1");
  EXPECT_TRUE(run.reception.frameBuffer.empty());
  EXPECT_EQ(run.reception.frameBufferLength, 0);
}

using Delivered = std::vector<std::pair<std::string, std::string>>;

TEST(Poll, ConvertsBeforeHandingOnEveryReadingInOrder) {
  PollRun run;
  run.config.ENABLECONVERTVALUE = 1;
  run.library.reads = {"  +012.50 mm\r7 g\r"};
  run.poll();
  EXPECT_EQ(run.reception.rawFrame.trimmed(), "7 g");
  EXPECT_EQ(run.reception.currentFrame.trimmed(), "7");
  EXPECT_EQ(run.delivered, (Delivered{{"  +012.50 mm", "12.5"}, {"7 g", "7"}}));
  run.poll();
  EXPECT_EQ(run.delivered.size(), 2u);
}

// The configuration a new folder starts with meets CR LF instruments: readings that arrive
// together, and a steady stream cut anywhere (between CR and LF too), all arrive, in order,
// without the line feed.
TEST(Poll, TheReadyConfigurationLosesNoReadingOfACrLfInstrument) {
  const std::string stream = "1.00\r\n2.00\r\n3.00\r\n4.00\r\n5.00\r\n6.00\r\n";
  const Delivered all = {{"1.00", "1.00"}, {"2.00", "2.00"}, {"3.00", "3.00"},
                         {"4.00", "4.00"}, {"5.00", "5.00"}, {"6.00", "6.00"}};
  for (std::size_t piece = 1; piece <= 18; ++piece) {
    PollRun run;
    run.config = readyConfiguration();
    for (std::size_t at = 0; at < stream.size(); at += piece) run.library.reads.push_back(stream.substr(at, piece));
    const std::size_t reads = run.library.reads.size();
    for (std::size_t i = 0; i <= reads; ++i) run.poll();
    EXPECT_EQ(run.delivered, all) << "reads of " << piece << " bytes";
  }
}

TEST(Poll, KeepsTheLastFrameWhenNothingNewIsCut) {
  PollRun run;
  run.library.reads = {"9\r", "1"};
  run.poll();
  run.poll();
  EXPECT_EQ(run.reception.currentFrame.trimmed(), "9");
}

}  // namespace
}  // namespace kelvor
