#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace kelvor {
namespace {

constexpr const char* kTemporarySuffix = ".kelvor-tmp";

std::string_view trimBlanks(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  a = trimBlanks(a);
  b = trimBlanks(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A name as the index compares it: trimmed and in lower case.
std::string nameKey(std::string_view name) {
  std::string key(trimBlanks(name));
  for (char& c : key) c = lower(c);
  return key;
}

std::string sectionKeyName(std::string_view section, std::string_view key) {
  return nameKey(section) + '\0' + nameKey(key);
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

std::string valueOf(std::string_view raw) {
  raw = trimBlanks(raw);
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
  return std::string(raw);
}

// One line of a file: its text and its terminator ("\n", "\r\n", or none for a last line
// without one), as offsets into the content, which is never copied line by line.
struct Line {
  std::size_t begin;
  std::size_t textEnd;
  std::size_t end;
};

// Calls `visit(line, text)` for each line until it returns false.
template <typename Visit>
void forEachLine(std::string_view content, Visit visit) {
  std::size_t start = 0;
  while (start < content.size()) {
    const void* found = std::memchr(content.data() + start, '\n', content.size() - start);
    const std::size_t newline =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - content.data()) : content.size();
    std::size_t textEnd = newline;
    if (found && textEnd > start && content[textEnd - 1] == '\r') --textEnd;
    const Line line{start, textEnd, found ? newline + 1 : newline};
    if (!visit(line, content.substr(start, textEnd - start))) return;
    start = line.end;
  }
}

// --- Telling the user about a file too large to read.

std::mutex noticeMutex;
std::function<void(const std::string&)> noticeSink;
std::set<std::string> noticedFiles;

void tellTooLarge(const std::string& path, std::uintmax_t size) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> lock(noticeMutex);
    if (!noticedFiles.insert(path).second) return;
    sink = noticeSink;
  }
  auto megabytes = [](double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return std::string(text);
  };
  const std::string text = "The settings file " + path + " holds " + megabytes(static_cast<double>(size)) +
                           ", far more than a settings file does (at most " +
                           megabytes(static_cast<double>(kMaxProfileFileBytes)) +
                           "). Kelvor treats it as unreadable and leaves it unchanged: shorten or replace it.";
  if (sink) {
    sink(text);
  } else {
    std::fprintf(stderr, "kelvor: %s\n", text.c_str());
  }
}

// --- Reading.

enum class Read { Ok, Missing, TooLarge };

// Reads an open regular file whole, up to the size limit.
Read readOpenFile(int fd, const std::string& path, std::string& content) {
  content.clear();
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Read::Missing;
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxProfileFileBytes) {
    tellTooLarge(path, static_cast<std::uintmax_t>(info.st_size));
    return Read::TooLarge;
  }
  content.resize(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t got = 0;
  for (;;) {
    // One byte more than the file held, to notice one that grew meanwhile.
    if (got == content.size()) content.resize(std::min(content.size() * 2, kMaxProfileFileBytes + 1));
    const ssize_t n = pread(fd, content.data() + got, content.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      content.clear();
      return Read::Missing;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    if (got > kMaxProfileFileBytes) {
      tellTooLarge(path, got);
      content.clear();
      return Read::TooLarge;
    }
  }
  content.resize(got);
  return Read::Ok;
}

// Reads a regular file whole. Anything else reads as missing: a named pipe would wait for a
// writer for ever (opened without blocking here, so it never does), and a device such as
// /dev/zero never ends.
Read readWholeFile(const std::string& path, std::string& content) {
  content.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Read::Missing;
  const Read result = readOpenFile(fd, path, content);
  close(fd);
  return result;
}

// Where each key and section of a file lives: the lines, the first line of each key in a
// matching section, and where a new key of each section goes (after the last non-blank line
// of its first occurrence). Built in one pass.
struct Index {
  std::vector<Line> lines;
  std::map<std::string, std::size_t> keys;      // by sectionKeyName
  std::map<std::string, std::size_t> sections;  // by nameKey: the line a new key goes before
};

Index indexOf(std::string_view content) {
  Index index;
  std::string section;
  bool inSection = false;
  bool firstOfItsName = false;
  forEachLine(content, [&](const Line& line, std::string_view text) {
    const std::size_t i = index.lines.size();
    index.lines.push_back(line);
    std::string_view name;
    if (sectionName(text, name)) {
      section = nameKey(name);
      inSection = true;
      firstOfItsName = index.sections.emplace(section, i + 1).second;
      return true;
    }
    if (!inSection) return true;
    std::string_view key, value;
    if (keyName(text, key, value)) index.keys.emplace(section + '\0' + nameKey(key), i);
    if (firstOfItsName && !trimBlanks(text).empty()) index.sections[section] = i + 1;
    return true;
  });
  return index;
}

// --- Writing.

// The value as the file holds it. A line break inside would end the line and inject
// whatever follows as keys, so it becomes a blank. Trailing spaces are the padding of a
// fixed-width field and may go; a value that a read would change otherwise (blanks in front
// or tabs at the end, which a read removes, or enclosing quotes, which it takes off) is
// written inside a pair of quotes, so it reads back as it was: a leading blank or a trailing
// tab of an end string is part of the framing.
std::string storedValue(std::string_view value) {
  std::string stored(value);
  for (char& c : stored) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const std::string_view unpadded = std::string_view(stored).substr(0, stored.find_last_not_of(' ') + 1);
  if (valueOf(stored) != unpadded) stored = '"' + stored + '"';
  return stored;
}

// The new content of a file, and where padding may go: after the text of a written key,
// where trailing blanks read as nothing.
struct NewContent {
  std::string text;
  std::size_t padAt = 0;
};

NewContent rewrite(std::string_view old, std::span<const ProfileValue> values) {
  const Index index = indexOf(old);
  const std::string ending = old.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  std::deque<std::string> added;  // the text of each new line; stable while it grows
  std::map<std::size_t, std::string> replaced;
  std::map<std::size_t, std::vector<std::string*>> inserted;  // before a line of the old file
  std::vector<std::pair<std::string, std::vector<std::string*>>> newSections;
  std::map<std::string, std::string*> addedKeys;
  std::map<std::string, std::size_t> newSectionOf;
  for (const ProfileValue& v : values) {
    std::string line = std::string(trimBlanks(v.key)) + "=" + storedValue(v.value);
    const std::string name = sectionKeyName(v.section, v.key);
    const std::string section = nameKey(v.section);
    if (auto at = index.keys.find(name); at != index.keys.end()) {
      replaced[at->second] = std::move(line);
    } else if (auto same = addedKeys.find(name); same != addedKeys.end()) {
      *same->second = std::move(line);
    } else {
      std::string* text = &added.emplace_back(std::move(line));
      addedKeys[name] = text;
      if (auto end = index.sections.find(section); end != index.sections.end()) {
        inserted[end->second].push_back(text);
      } else if (auto fresh = newSectionOf.find(section); fresh != newSectionOf.end()) {
        newSections[fresh->second].second.push_back(text);
      } else {
        newSectionOf[section] = newSections.size();
        newSections.push_back({"[" + std::string(trimBlanks(v.section)) + "]", {text}});
      }
    }
  }

  NewContent out;
  std::size_t extra = 0;
  for (const auto& a : added) extra += a.size() + ending.size();
  for (const auto& [i, text] : replaced) extra += text.size();
  out.text.reserve(old.size() + extra + newSections.size() * 64);
  bool atLineStart = true;
  auto addLine = [&](const std::string& text) {
    if (!atLineStart) out.text += ending;
    out.text += text;
    out.padAt = out.text.size();
    out.text += ending;
    atLineStart = true;
  };
  auto insertBefore = [&](std::size_t position) {
    if (auto at = inserted.find(position); at != inserted.end()) {
      for (const std::string* text : at->second) addLine(*text);
    }
  };
  for (std::size_t i = 0; i < index.lines.size(); ++i) {
    insertBefore(i);
    const Line& line = index.lines[i];
    if (auto r = replaced.find(i); r != replaced.end()) {
      out.text += r->second;
      out.padAt = out.text.size();
    } else {
      out.text.append(old.substr(line.begin, line.textEnd - line.begin));
    }
    out.text.append(old.substr(line.textEnd, line.end - line.textEnd));
    atLineStart = line.end > line.textEnd;
  }
  insertBefore(index.lines.size());
  for (const auto& [header, keys] : newSections) {
    addLine(header);
    for (const std::string* text : keys) addLine(*text);
  }
  return out;
}

bool writeAll(int fd, std::string_view data, off_t at) {
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = pwrite(fd, data.data() + written, data.size() - written, at + static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // no progress and no error: never loop on it
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

bool truncateTo(int fd, std::size_t size) { return ftruncate(fd, static_cast<off_t>(size)) == 0; }

// Rewrites the file in place, for a folder Kelvor may not write in. The file never gets
// shorter and its old content stays readable until the one write that changes it.
bool writeInPlace(const std::string& path, std::span<const ProfileValue> values) {
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Writers of one file take turns; the lock goes with the descriptor.
  bool ok = flock(fd, LOCK_EX) == 0;
  std::string old;
  if (ok) {
    const Read read = readOpenFile(fd, path, old);
    ok = read == Read::Ok;
    if (!ok) errno = read == Read::TooLarge ? EFBIG : EIO;
  }
  NewContent next;
  if (ok) next = rewrite(old, values);
  std::string& text = next.text;
  const std::size_t n = old.size();
  if (ok && text.size() < n) text.insert(next.padAt, n - text.size(), ' ');
  if (ok && text.size() > n) {
    // Grow first, with blanks, which the old content reads the same with: a full disk then
    // fails here, before any byte of the old content has changed.
    ok = writeAll(fd, std::string(text.size() - n, ' '), static_cast<off_t>(n));
    if (ok) {
      old.append(text.size() - n, ' ');
    } else {
      const int cause = errno;
      truncateTo(fd, n);  // should it fail, only blanks are left behind the old content
      errno = cause;
    }
  }
  if (ok && text != old) {
    // The bytes that differ, in one write; the kernel copies a page at a time, so a kill
    // cannot tear a change that lies within one page.
    std::size_t first = 0;
    while (text[first] == old[first]) ++first;
    std::size_t last = text.size();
    while (text[last - 1] == old[last - 1]) --last;
    ok = writeAll(fd, std::string_view(text).substr(first, last - first), static_cast<off_t>(first));
    if (!ok) {
      // Nothing should fail when overwriting bytes the file already has; if it did, put the
      // old bytes back as far as the system lets us.
      const int cause = errno;
      if (!writeAll(fd, std::string_view(old).substr(first, last - first), static_cast<off_t>(first)) ||
          !truncateTo(fd, n)) {
        std::fprintf(stderr, "kelvor: %s could not be restored after a failed write\n", path.c_str());
      }
      errno = cause;
    }
  }
  ok = ok && fsync(fd) == 0;
  const int cause = errno;
  close(fd);
  errno = cause;
  return ok;
}

// Opens and locks the temporary file of `path`, which no other writer then holds: a writer
// that waited for the lock while the file was renamed into place finds another file at the
// name, and tries again.
int lockTemporary(const std::string& temporary) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat held {}, named {};
    if (flock(fd, LOCK_EX) == 0 && fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        lstat(temporary.c_str(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return fd;
    }
    close(fd);
  }
  return -1;
}

// Writes the new content to the temporary file beside `path` and renames it over the file.
// Returns false with `inPlace` set when no temporary file can be made there (a folder Kelvor
// may not write in, or one without a free inode).
bool writeByRename(const std::string& path, std::span<const ProfileValue> values, bool& inPlace) {
  const std::string temporary = path + kTemporarySuffix;
  const int fd = lockTemporary(temporary);
  if (fd < 0) {
    inPlace = errno == EACCES || errno == EROFS || errno == EPERM || errno == ENOSPC || errno == EDQUOT;
    return false;
  }
  struct stat info {};
  const bool exists = stat(path.c_str(), &info) == 0;
  std::string old;
  const Read read = !exists ? Read::Ok : S_ISREG(info.st_mode) ? readWholeFile(path, old) : Read::Missing;
  bool ok = read == Read::Ok;
  if (!ok) errno = read == Read::TooLarge ? EFBIG : EIO;
  if (ok) {
    const std::string text = rewrite(old, values).text;
    ok = ftruncate(fd, 0) == 0 && writeAll(fd, text, 0) && fchmod(fd, exists ? (info.st_mode & 07777) : 0644) == 0 &&
         fsync(fd) == 0 && rename(temporary.c_str(), path.c_str()) == 0;
  }
  const int cause = errno;
  if (!ok) unlink(temporary.c_str());
  close(fd);
  errno = cause;
  return ok;
}

std::string resolveLinks(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

}  // namespace

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key) {
  std::string content;
  if (readWholeFile(path, content) != Read::Ok) return {};
  std::string value;
  bool inSection = false;
  forEachLine(content, [&](const Line&, std::string_view text) {
    std::string_view name, lineKey, raw;
    if (sectionName(text, name)) {
      inSection = sameName(name, section);
    } else if (inSection && keyName(text, lineKey, raw) && sameName(lineKey, key)) {
      value = valueOf(raw);
      return false;
    }
    return true;
  });
  return value;
}

std::vector<std::string> readProfileStrings(const std::string& path, std::span<const ProfileKey> keys) {
  std::vector<std::string> values(keys.size());
  std::string content;
  if (readWholeFile(path, content) != Read::Ok) return values;
  const Index index = indexOf(content);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    auto at = index.keys.find(sectionKeyName(keys[i].section, keys[i].key));
    if (at == index.keys.end()) continue;
    const Line& line = index.lines[at->second];
    std::string_view key, raw;
    keyName(std::string_view(content).substr(line.begin, line.textEnd - line.begin), key, raw);
    values[i] = valueOf(raw);
  }
  return values;
}

bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  const ProfileValue one{section, key, value};
  return writeProfileStrings(path, std::span<const ProfileValue>(&one, 1));
}

bool writeProfileStrings(const std::string& path, std::span<const ProfileValue> values) {
  const std::string target = resolveLinks(path);
  struct stat info {};
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (exists && access(target.c_str(), W_OK) != 0) return false;
  bool inPlace = false;
  if (writeByRename(target, values, inPlace)) return true;
  return inPlace && exists && writeInPlace(target, values);
}

void setProfileFileNotice(std::function<void(const std::string& text)> notice) {
  std::lock_guard<std::mutex> lock(noticeMutex);
  noticeSink = std::move(notice);
}

}  // namespace kelvor
