#include "core/settings/profile_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "core/system/files.h"

namespace kelvor {
namespace {


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

// The file's content when it can be a settings file; a file too large is told once.
bool readSettingsFile(const std::string& path, std::string& content) {
  std::uintmax_t size = 0;
  const WholeFile read = readWholeFile(path, kMaxProfileFileBytes, content, size);
  if (read == WholeFile::TooLarge) tellTooLarge(path, size);
  return read == WholeFile::Ok;
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
// fixed-width field, which carries no meaning: they are left out, so that a path never stands
// in the file followed by two hundred blanks. A value that a read would change otherwise
// (blanks in front or tabs at the end, which a read removes, or enclosing quotes, which it
// takes off) is written inside a pair of quotes, so it reads back as it was: a leading blank or
// a trailing tab of an end string is part of the framing.
std::string storedValue(std::string_view value) {
  std::string stored(value);
  for (char& c : stored) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  stored.erase(stored.find_last_not_of(' ') + 1);
  if (valueOf(stored) != stored) stored = '"' + stored + '"';
  return stored;
}

// The line end of the lines a write adds: the file's own, and CR LF in a file that has none
// yet, the Windows text every editor shows as lines (and the same bytes on every desk).
std::string lineEndOf(std::string_view old) {
  if (old.find('\n') == std::string_view::npos || old.find("\r\n") != std::string_view::npos) return "\r\n";
  return "\n";
}

// The new content of a file, and where padding may go: after the text of a written key,
// where trailing blanks read as nothing.
struct NewContent {
  std::string text;
  std::size_t padAt = 0;
};

NewContent rewrite(std::string_view old, std::span<const ProfileValue> values) {
  const Index index = indexOf(old);
  const std::string ending = lineEndOf(old);
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

}  // namespace

SettingsFileWait awaitSettingsFile(const std::string& path, std::chrono::milliseconds patience,
                                   const std::function<void(std::chrono::milliseconds)>& sleep) {
  constexpr std::chrono::milliseconds kRetry{100};
  SettingsFileWait wait;
  for (;;) {
    std::string content;
    std::uintmax_t size = 0;
    if (readWholeFile(path, kMaxProfileFileBytes, content, size) != WholeFile::Unreadable) return wait;
    wait.held = true;
    wait.cause = fileErrorText(errno);
    if (wait.waited >= patience) {
      wait.readable = false;
      return wait;
    }
    sleep(kRetry);
    wait.waited += kRetry;
  }
}

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key) {
  std::string content;
  if (!readSettingsFile(path, content)) return {};
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
  if (!readSettingsFile(path, content)) return values;
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
  std::uintmax_t tooLarge = 0;
  const bool written = replaceFile(path, kMaxProfileFileBytes, [&](std::string_view old) {
    NewContent next = rewrite(old, values);
    return Replacement{std::move(next.text), next.padAt};
  }, tooLarge);
  if (tooLarge > 0) {
    const int cause = errno;
    tellTooLarge(path, tooLarge);
    errno = cause;
  }
  return written;
}

void setProfileFileNotice(std::function<void(const std::string& text)> notice) {
  std::lock_guard<std::mutex> lock(noticeMutex);
  noticeSink = std::move(notice);
}

}  // namespace kelvor
