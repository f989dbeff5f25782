#pragma once
// What the view window shows: the running text of every read and one row per received
// byte. Plain logic, so the rules can be checked without a window.
//
// Every byte is shown as it arrived. A zero byte is a row of its own with the value 0, and
// the bytes after it in the same read keep their own characters and values: the line
// carries zero bytes as data, and the view is where a user goes to see exactly that.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

struct ByteRow {
  std::int32_t POS;  // position within the read that delivered the byte, from 1
  char CHAR;         // the byte
  std::int32_t VAL;  // its code, 0 to 255
};

class ViewLog {
 public:
  static constexpr std::size_t kTextCapacity = 1000;

  // Appends one read: its bytes go to the running text (kept to the first 1000 characters
  // received since the last clear) and one row per byte to the table.
  void append(std::string_view bytes);

  void clearText();   // the Clear button under the text box
  void clearTable();  // the Clear button under the table

  const std::string& viewText() const { return viewText_; }
  std::int32_t viewCount() const { return viewCount_; }
  const std::vector<ByteRow>& byteTable() const { return byteTable_; }

 private:
  std::string viewText_;
  std::int32_t viewCount_ = 0;  // characters received since the text was last emptied
  std::vector<ByteRow> byteTable_;
};

// How the table's character column shows a byte: control characters by their usual short
// names ("CR", "LF", "NUL"), a blank as "SP", other bytes as their character (UTF-8 for
// display; bytes above 127 as Windows-1252).
std::string byteLabel(unsigned char byte);

// The running text made readable: line breaks (CR LF, CR or LF) as new lines, tabs kept,
// other control characters as their names in angle brackets ("<NUL>", "<ESC>"), text as
// UTF-8 where it is valid and Windows-1252 otherwise.
std::string displayRunningText(std::string_view bytes);

// A frame made readable on one line: every control character, line breaks included, as
// its name in angle brackets; text as UTF-8 where it is valid and Windows-1252 otherwise.
std::string displayFrameText(std::string_view bytes);

}  // namespace kelvor
