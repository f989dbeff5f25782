#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace kelvor {
namespace {

std::string_view trimBlanks(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool sameName(std::string_view a, std::string_view b) {
  a = trimBlanks(a);
  b = trimBlanks(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// One line of the file: its text without terminator, and the terminator as found
// ("\n", "\r\n", or "" for a last line without one).
struct Line {
  std::string text;
  std::string ending;
};

std::vector<Line> splitLines(const std::string& content) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    const auto newline = content.find('\n', start);
    if (newline == std::string::npos) {
      lines.push_back({content.substr(start), ""});
      break;
    }
    std::size_t end = newline;
    std::string ending = "\n";
    if (end > start && content[end - 1] == '\r') {
      --end;
      ending = "\r\n";
    }
    lines.push_back({content.substr(start, end - start), ending});
    start = newline + 1;
  }
  return lines;
}

// The section name of a "[name]" line, or nothing.
bool sectionName(std::string_view line, std::string_view& name) {
  line = trimBlanks(line);
  if (line.empty() || line.front() != '[') return false;
  const auto close = line.find(']');
  name = close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
  return true;
}

// The key of a "key=value" line, or nothing; `value` receives the raw text after "=".
bool keyName(std::string_view line, std::string_view& key, std::string_view& value) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  key = line.substr(0, equals);
  value = line.substr(equals + 1);
  return true;
}

// Reads a regular file whole. Anything else reads as missing: a named pipe would wait for a
// writer for ever (opened without blocking here, so it never does), and a device such as
// /dev/zero never ends.
bool readWholeFile(const std::string& path, std::string& content) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  content.clear();
  if (ok) content.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[65536];
  while (ok) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    content.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  if (!ok) content.clear();
  return ok;
}

// Where a key lives: the index of its line, or where a new one would go.
struct Place {
  long keyLine = -1;         // the first matching key in a matching section
  long sectionEnd = -1;      // after the last non-blank line of the first matching section
};

Place findKey(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  Place place;
  bool inSection = false;
  bool firstSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (sectionName(lines[i].text, name)) {
      inSection = sameName(name, section);
      firstSection = inSection && place.sectionEnd < 0;
      if (firstSection) place.sectionEnd = static_cast<long>(i) + 1;
      continue;
    }
    if (!inSection) continue;
    std::string_view lineKey, value;
    if (keyName(lines[i].text, lineKey, value) && sameName(lineKey, key)) {
      place.keyLine = static_cast<long>(i);
      return place;
    }
    if (firstSection && !trimBlanks(lines[i].text).empty()) place.sectionEnd = static_cast<long>(i) + 1;
  }
  return place;
}

// Writes `content` over `path`: through a temporary file renamed over it where the folder
// allows, in place where only the file is writable.
bool replaceFile(const std::string& path, const std::string& content, bool exists, mode_t mode) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  if (access(folder.c_str(), W_OK) == 0) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd >= 0) {
      bool ok = fchmod(fd, exists ? mode : 0644) == 0 || !exists;
      std::size_t written = 0;
      while (ok && written < content.size()) {
        const ssize_t n = write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) written += static_cast<std::size_t>(n);
      }
      ok = (fsync(fd) == 0) && ok;
      ok = (close(fd) == 0) && ok;
      if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
      unlink(temp.c_str());
      return false;
    }
  }
  if (!exists) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
}

std::string resolveLinks(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

// The value as the file holds it. A line break inside would end the line and inject
// whatever follows as keys, so it becomes a blank. A value that a read would change (blanks
// in front, which a read removes, or enclosing quotes, which a read takes off) is written
// inside a pair of quotes, so it reads back as it was: a leading blank of an end string
// is part of the framing.
std::string storedValue(std::string_view value) {
  std::string stored(value);
  for (char& c : stored) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const std::string_view trimmed = trimBlanks(stored);
  const bool quoted = trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"';
  if (quoted || (!trimmed.empty() && trimmed.data() != stored.data())) stored = '"' + stored + '"';
  return stored;
}

}  // namespace

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key) {
  std::string content;
  if (!readWholeFile(path, content)) return {};
  const auto lines = splitLines(content);
  const Place place = findKey(lines, section, key);
  if (place.keyLine < 0) return {};
  std::string_view lineKey, value;
  keyName(lines[static_cast<std::size_t>(place.keyLine)].text, lineKey, value);
  value = trimBlanks(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return std::string(value);
}

bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  const std::string target = resolveLinks(path);
  struct stat info {};
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && (!S_ISREG(info.st_mode) || access(target.c_str(), W_OK) != 0)) return false;

  std::string content;
  if (exists && !readWholeFile(target, content)) return false;
  auto lines = splitLines(content);
  const std::string ending = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string keyLine = std::string(trimBlanks(key)) + "=" + storedValue(value);

  const Place place = findKey(lines, section, key);
  if (place.keyLine >= 0) {
    lines[static_cast<std::size_t>(place.keyLine)].text = keyLine;
  } else if (place.sectionEnd >= 0) {
    auto at = static_cast<std::size_t>(place.sectionEnd);
    if (lines[at - 1].ending.empty()) lines[at - 1].ending = ending;
    lines.insert(lines.begin() + static_cast<long>(at), Line{keyLine, ending});
  } else {
    if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = ending;
    lines.push_back({"[" + std::string(trimBlanks(section)) + "]", ending});
    lines.push_back({keyLine, ending});
  }

  std::string out;
  out.reserve(content.size() + keyLine.size() + 64);
  for (const auto& line : lines) out += line.text + line.ending;
  return replaceFile(target, out, exists, info.st_mode & 07777);
}

}  // namespace kelvor
