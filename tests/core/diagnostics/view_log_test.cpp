#include "core/diagnostics/view_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvor {
namespace {

struct Row {
  int pos;
  std::string label;
  int value;
  friend bool operator==(const Row&, const Row&) = default;
};

std::vector<Row> rowsOf(const ViewLog& log) {
  std::vector<Row> rows;
  for (const ByteRow& row : log.byteTable()) {
    rows.push_back({row.POS, byteLabel(static_cast<unsigned char>(row.CHAR)), row.VAL});
  }
  return rows;
}

void PrintTo(const Row& row, std::ostream* os) { *os << "(" << row.pos << "," << row.label << "," << row.value << ")"; }

TEST(ViewLog, ListsEachByteWithItsPositionCharacterAndValue) {
  ViewLog log;
  log.append("AB\r");
  EXPECT_EQ(rowsOf(log), (std::vector<Row>{{1, "A", 65}, {2, "B", 66}, {3, "CR", 13}}));
}

TEST(ViewLog, PositionsRestartAtOneForEachRead) {
  ViewLog log;
  log.append("AB\r");
  log.append("C\n");
  EXPECT_EQ(rowsOf(log), (std::vector<Row>{{1, "A", 65}, {2, "B", 66}, {3, "CR", 13}, {1, "C", 67}, {2, "LF", 10}}));
  EXPECT_EQ(log.viewText(), "AB\rC\n");
  EXPECT_EQ(log.viewCount(), 5);
}

TEST(ViewLog, ZeroByteIsShownAsItselfAndTheBytesAfterItKeepTheirValues) {
  ViewLog log;
  log.append(std::string("A\0B", 3));
  EXPECT_EQ(rowsOf(log), (std::vector<Row>{{1, "A", 65}, {2, "NUL", 0}, {3, "B", 66}}));
  // The running text keeps the real bytes, so the next read is not preceded by blanks.
  log.append("C");
  EXPECT_EQ(log.viewText(), std::string("A\0BC", 4));
  EXPECT_EQ(log.viewCount(), 4);
}

TEST(ViewLog, BytesAbove127KeepTheirValue) {
  ViewLog log;
  log.append("\xB0\xFF");
  EXPECT_EQ(rowsOf(log), (std::vector<Row>{{1, "\xC2\xB0", 176}, {2, "\xC3\xBF", 255}}));
}

TEST(ViewLog, TextStopsAtThousandCharactersWhileTheTableKeepsGrowing) {
  ViewLog log;
  log.append(std::string(999, 'x'));
  log.append("yz");
  EXPECT_EQ(log.viewText(), std::string(999, 'x') + "y");
  log.append("more");
  EXPECT_EQ(log.viewText().size(), 1000u);
  EXPECT_EQ(log.viewText().back(), 'y');
  EXPECT_EQ(log.viewCount(), 1005);
  EXPECT_EQ(log.byteTable().size(), 1005u);
  EXPECT_EQ(log.byteTable().back().POS, 4);
}

TEST(ViewLog, EachClearEmptiesOnlyItsOwnSide) {
  ViewLog log;
  log.append("abc");
  log.clearText();
  EXPECT_EQ(log.viewText(), "");
  EXPECT_EQ(log.viewCount(), 0);
  EXPECT_EQ(log.byteTable().size(), 3u);

  log.append("d");
  log.clearTable();
  EXPECT_TRUE(log.byteTable().empty());
  EXPECT_EQ(log.viewText(), "d");
  // After a clear the text fills up again from the start.
  log.append("e");
  EXPECT_EQ(log.viewText(), "de");
}

TEST(ViewLog, PositionsAboveNineHundredNinetyNineAreKeptWhole) {
  ViewLog log;
  log.append(std::string(2549, 'x'));
  EXPECT_EQ(log.byteTable().back().POS, 2549);
}

TEST(ByteLabel, NamesControlCharactersAndShowsOthersAsThemselves) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "NUL"}, {9, "TAB"}, {10, "LF"}, {13, "CR"}, {27, "ESC"}, {31, "US"}, {32, "SP"},
      {48, "0"}, {126, "~"}, {127, "DEL"}, {0x80, "\xE2\x82\xAC"}, {0xB5, "\xC2\xB5"},
  };
  for (const auto& [byte, label] : cases) {
    EXPECT_EQ(byteLabel(static_cast<unsigned char>(byte)), label) << "byte " << byte;
  }
}

TEST(DisplayText, RunningTextShowsLineBreaksAndNamesOtherControls) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"12.5\r7.1\r", "12.5\n7.1\n"},
      {"a\r\nb", "a\nb"},
      {"a\nb\tc", "a\nb\tc"},
      {std::string("a\0b", 3), "a<NUL>b"},
      {"\x1B[\x7F", "<ESC>[<DEL>"},
      {"25\xB0" "C", "25\xC2\xB0" "C"},                  // Windows-1252 degree sign
      {"25\xC2\xB0" "C", "25\xC2\xB0" "C"},              // already UTF-8
      {"ok\xC2", "ok"},                                  // a UTF-8 character cut at the end
      {"25\xB0", "25\xC2\xB0"},                          // a Windows-1252 byte at the end is kept
  };
  for (const auto& [bytes, shown] : cases) {
    EXPECT_EQ(displayRunningText(bytes), shown);
  }
}

TEST(DisplayText, FrameTextNamesEveryControlOnOneLine) {
  EXPECT_EQ(displayFrameText("a\rb"), "a<CR>b");
  EXPECT_EQ(displayFrameText("12.5"), "12.5");
  EXPECT_EQ(displayFrameText("\xB5m"), "\xC2\xB5m");
}

}  // namespace
}  // namespace kelvor
