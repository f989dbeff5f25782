#pragma once
// Reading and writing initialisation files (KELVOR.INI, *.KLV, *.LAN) with the Windows
// profile-file rules: section and key names match without regard to case and surrounding
// blanks; a value is the text after the first "=", trimmed, with one pair of enclosing
// quotes removed; the first matching section and key win. Writing changes only the given
// keys' lines (or appends a key at the end of its section, or a new section at the end of
// the file) and keeps every other byte. A written value reads back as written, up to its
// trailing blanks, which are never written (a value with leading blanks or enclosing quotes
// is stored inside quotes). Added lines end as the file's lines do; in a new file, CR LF.
// Failures are silent, as the program's callers expect; only a file too large to be a
// settings file is told to the user, once.
//
// What a write promises, even when the program is killed in the middle of it or the disk
// is full: the file holds either its old content or the complete new one.
// - Where the folder is writable, the new content goes to "<file>.kelvor-tmp" beside the
//   file and is renamed over it. A temporary file left by a killed write is reused, and so
//   removed, by the next write to the same file. Writers of one file take turns.
// - Where only the file is writable, it is rewritten in place: it first grows to the new
//   length with blanks (which read as nothing), then the bytes that differ are written in
//   one piece; a shorter content is padded with blanks after its last written value, so the
//   file never shrinks. A write that fails leaves the old content. A kill cannot tear the
//   change while its bytes lie within one 4 KB page, as they always do in a file under 4 KB.

#include <chrono>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

// A settings file larger than this is treated as unreadable (and is not rewritten): real
// ones hold a few kilobytes, and every lookup reads the whole file.
constexpr std::size_t kMaxProfileFileBytes = 1u << 20;

struct ProfileKey {
  std::string_view section;
  std::string_view key;
};

struct ProfileValue {
  std::string_view section;
  std::string_view key;
  std::string_view value;
};

// The value of `key` in `section`, or the empty text when the file, section or key is
// missing. Values are bytes, exactly as stored.
std::string readProfileString(const std::string& path, std::string_view section, std::string_view key);

// The values of several keys, read from one reading of the file, in the order asked.
std::vector<std::string> readProfileStrings(const std::string& path, std::span<const ProfileKey> keys);

// Sets `key` in `section` to `value`; returns false when the file could not be written.
bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// Sets every key of `values` in one replacement of the file: after a crash the file holds
// all of them or none. A key named twice takes its last value. When it returns false, errno
// says why (ENOSPC for a full disk, EACCES where it may not write, EFBIG for a file too large).
bool writeProfileStrings(const std::string& path, std::span<const ProfileValue> values);

// What start-up found of a settings file: it may be there and yet not readable for a
// moment (an editor, a backup or a virus scanner holding it open without sharing it).
struct SettingsFileWait {
  bool held = false;      // it was there but could not be read at first
  bool readable = true;   // it was read in the end, or it is missing (nothing to wait for)
  std::chrono::milliseconds waited{0};
  std::string cause;      // why it could not be read, in plain words
};

// A settings file that is there but cannot be read now is not missing: it is tried again
// every 100 ms, at most for `patience`, before anything reads it. `sleep` waits (the
// program's own sleeps; tests count instead).
SettingsFileWait awaitSettingsFile(const std::string& path, std::chrono::milliseconds patience,
                                   const std::function<void(std::chrono::milliseconds)>& sleep);

// Where a file refused for its size is told to the user: once per file, with a sentence
// that names it. Without one, the sentence goes to standard error.
void setProfileFileNotice(std::function<void(const std::string& text)> notice);

}  // namespace kelvor
