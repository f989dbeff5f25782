// The profile-file reader and writer on any file. The input is "section|key|value" on its
// first line, then the file. Each run reads the key, writes the value into the file, and
// checks what the writer promises: the key reads back as the value (up to spaces at its end),
// and every other line of the file is kept byte for byte (one line replaced, or the key
// inserted into its section, or the section appended at the end, a last line without a line
// break gaining one).
//
// Section and key names are the program's own (KELVOR.INI, configurations), never outside
// text, so the names tried exclude what cannot be a name: a line break, "]" in a section,
// "=" in a key or a key starting with "[".

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "core/settings/profile_file.h"

namespace {

struct Line {
  std::string text;
  std::string ending;
  bool operator==(const Line&) const = default;
};

std::vector<Line> lines(std::string_view content) {
  std::vector<Line> out;
  while (!content.empty()) {
    const auto newline = content.find('\n');
    if (newline == std::string_view::npos) {
      out.push_back({std::string(content), ""});
      break;
    }
    const bool crlf = newline > 0 && content[newline - 1] == '\r';
    out.push_back({std::string(content.substr(0, newline - crlf)), crlf ? "\r\n" : "\n"});
    content.remove_prefix(newline + 1);
  }
  return out;
}

std::string trimBlanks(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

std::string without(std::string s, std::string_view bad) {
  std::erase_if(s, [&](char c) { return bad.find(c) != std::string_view::npos; });
  return s;
}

// How the writer stores a value: a line break inside becomes a blank, spaces at its end are
// left out, and a value that a read (blanks and tabs trimmed, then one pair of enclosing
// quotes taken off) would change goes inside quotes.
std::string stored(std::string value) {
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  value.erase(value.find_last_not_of(' ') + 1);
  std::string read = trimBlanks(value);
  if (read.size() >= 2 && read.front() == '"' && read.back() == '"') read = read.substr(1, read.size() - 2);
  return read == value ? value : '"' + value + '"';
}

// The lines where the two versions of the file differ, after their common start and end.
void differingLines(const std::vector<Line>& before, const std::vector<Line>& after, std::vector<Line>& removed,
                    std::vector<Line>& added) {
  std::size_t start = 0;
  while (start < before.size() && start < after.size() && before[start] == after[start]) ++start;
  std::size_t end = 0;
  while (end < before.size() - start && end < after.size() - start &&
         before[before.size() - 1 - end] == after[after.size() - 1 - end]) {
    ++end;
  }
  removed.assign(before.begin() + static_cast<long>(start), before.end() - static_cast<long>(end));
  added.assign(after.begin() + static_cast<long>(start), after.end() - static_cast<long>(end));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = kelvor::fuzz::splitHeader(std::string_view(reinterpret_cast<const char*>(data), size));
  std::string section = without(input.fields[0], "]\r");
  std::string key = without(input.fields[1], "=\r");
  while (trimBlanks(key).starts_with('[')) key = trimBlanks(key).substr(1);
  const std::string& value = input.fields[2];

  const std::string path = kelvor::fuzz::scratch().file("profile.ini");
  kelvor::fuzz::writeFile(path, input.body);
  (void)kelvor::readProfileString(path, section, key);
  FUZZ_CHECK(kelvor::writeProfileString(path, section, key, value), "the write failed");

  const std::string written = kelvor::readProfileString(path, section, key);
  // The value reads back as it was written, up to spaces at its end, the padding of a field
  // (a line break inside was written as a blank).
  std::string expected = value;
  for (char& c : expected) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const std::string expectedTrimmed = expected.substr(0, expected.find_last_not_of(' ') + 1);
  FUZZ_CHECK(written == expected || written == expectedTrimmed, "wrote \"%s\", read back \"%s\"", value.c_str(),
             written.c_str());

  const std::string after = kelvor::fuzz::readFile(path);
  std::vector<Line> removed, added;
  differingLines(lines(input.body), lines(after), removed, added);
  // Added lines take the file's own line end; a file without any line yet gets CR LF.
  const bool windowsText =
      input.body.find('\n') == std::string_view::npos || input.body.find("\r\n") != std::string_view::npos;
  const std::string ending = windowsText ? "\r\n" : "\n";
  // A last line without a line break gains one before what is added after it.
  // (A stray CR at the very end then becomes part of a CR LF: the bytes are still all there.)
  if (removed.size() == 1 && !added.empty() && removed[0].ending.empty() &&
      removed[0].text + ending == added[0].text + added[0].ending) {
    removed.clear();
    added.erase(added.begin());
  }
  const std::string keyText = trimBlanks(key) + "=" + stored(value);
  auto isKeyLine = [&](const Line& line) { return line.text == keyText; };
  bool kept = false;
  if (removed.empty()) {
    kept = added.empty() || (added.size() == 1 && isKeyLine(added[0]) && added[0].ending == ending) ||
           (added.size() == 2 && added[0] == Line{"[" + trimBlanks(section) + "]", ending} && isKeyLine(added[1]) &&
            added[1].ending == ending);
  } else if (removed.size() == 1) {
    kept = added.size() == 1 && isKeyLine(added[0]) && added[0].ending == removed[0].ending;
  }
  FUZZ_CHECK(kept, "the write changed %zu line(s) and added %zu; other lines must stay as they were", removed.size(),
             added.size());
  return 0;
}
