#pragma once
// Fixed-capacity texts and the small text rules every part of Kelvor shares.
//
// Kelvor's records hold two kinds of text: blank-padded texts of N characters (a DDE
// client sees the padding, and trailing blanks never carry meaning) and zero-terminated
// fields of N bytes that hold at most N-1 characters. Both cut a longer value at their
// capacity without notice. Paths are the exception: they are padded like a text but
// never cut, because a cut path names another file.
//
// Texts are byte strings (Windows-1252 or UTF-8, as they came from a file or a line),
// counted in bytes. A value that people or DDE clients read counts characters instead: it is
// held as UTF-8 and never cut inside a character. Positions are 1-based.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvor {

// What a field's capacity counts.
enum class Fit {
  Bytes,       // bytes, as the text came from a file or the line
  Characters,  // UTF-8 characters: bytes that are not UTF-8 are read as Windows-1252 when
               // assigned, and a cut never falls inside a character
};

// The text without its trailing blanks.
std::string trimRight(std::string_view s);

// The text cut to `width` characters, or padded with blanks up to it.
std::string padRight(std::string_view s, std::size_t width);

// The first `count` characters of a text (UTF-8, or else Windows-1252), as UTF-8.
std::string leadingCharacters(std::string_view bytes, std::size_t count);

// At most `length` characters of `s` from the 1-based position `start`. A start of 0
// counts as 1, a negative start counts back from the end (-1 is the last character),
// a start beyond the end gives the empty text, and a negative or oversize length takes
// all that remains.
std::string substring(std::string_view s, long long start, long long length);

// Number reading: skip leading blanks, an optional "-", then decimal digits up to the
// first other character; no digits give 0. Digits beyond what a 64-bit value holds are
// ignored rather than overflowing.
long long readNumber(std::string_view s);

// Number writing: decimal text, "-" for negative values, no leading zeros or plus sign.
std::string writeNumber(long long value);

// Upper-cases the letters a to z only, as the program's keys and commands expect.
std::string upperAscii(std::string_view s);

// Stores a number into a field of the given width, keeping only what fits: a byte keeps
// the low 8 bits, a short the low 16 bits read as signed (40000 becomes -25536).
template <typename Field>
Field keepWidth(long long value) {
  using Unsigned = std::make_unsigned_t<Field>;
  return static_cast<Field>(static_cast<Unsigned>(static_cast<unsigned long long>(value)));
}

// A blank-padded text of N characters. With kIsPath a longer value is kept whole (still
// padded when shorter), since a path cut to its field names another file.
template <std::size_t N, bool kIsPath = false>
class Text {
 public:
  static constexpr std::size_t capacity = N;

  Text() : value_(N, ' ') {}
  Text(std::string_view s) { assign(s); }  // NOLINT: texts are assigned from plain strings everywhere
  Text& operator=(std::string_view s) {
    assign(s);
    return *this;
  }

  void assign(std::string_view s) {
    value_ = (kIsPath && s.size() > N) ? std::string(s) : padRight(s, N);
  }
  void clear() { value_.assign(N, ' '); }

  // The whole field, padding included (what a file or a DDE client sees).
  const std::string& padded() const { return value_; }
  // The meaning of the field: its text without trailing blanks.
  std::string trimmed() const { return trimRight(value_); }
  bool isBlank() const { return value_.find_first_not_of(' ') == std::string::npos; }

  // Comparisons ignore trailing blanks on both sides.
  friend bool operator==(const Text& a, std::string_view b) { return a.trimmed() == trimRight(b); }
  friend bool operator==(const Text& a, const Text& b) { return a.trimmed() == b.trimmed(); }

 private:
  std::string value_;
};

template <std::size_t N>
using PathText = Text<N, true>;

// A zero-terminated field of N bytes: at most N-1 characters, no padding. Zero bytes
// inside are kept as data; code that hands the value on as a C text stops at the first.
// With Fit::Characters it holds at most N-1 characters of UTF-8, whatever their bytes.
template <std::size_t N, Fit kFit = Fit::Bytes>
class ZField {
 public:
  static constexpr std::size_t maxLength = N - 1;

  ZField() = default;
  ZField(std::string_view s) { assign(s); }  // NOLINT: see Text
  ZField& operator=(std::string_view s) {
    assign(s);
    return *this;
  }

  void assign(std::string_view s) {
    if constexpr (kFit == Fit::Characters) {
      value_ = leadingCharacters(s, maxLength);
    } else {
      value_.assign(s.substr(0, std::min(s.size(), maxLength)));
    }
  }
  void clear() { value_.clear(); }

  const std::string& str() const { return value_; }
  std::size_t size() const { return value_.size(); }
  bool empty() const { return value_.empty(); }
  // The value as a C text would read it: up to the first zero byte.
  std::string cText() const { return value_.substr(0, value_.find('\0')); }

  friend bool operator==(const ZField& a, std::string_view b) { return a.value_ == b; }

 private:
  std::string value_;
};

}  // namespace kelvor
