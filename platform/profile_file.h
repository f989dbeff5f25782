#pragma once
// Reading and writing initialisation files (KELVOR.INI, *.KLV, *.LAN) with the Windows
// profile-file rules: section and key names match without regard to case and surrounding
// blanks; a value is the text after the first "=", trimmed, with one pair of enclosing
// quotes removed; the first matching section and key win. Writing changes only the one
// key's line (or appends it at the end of its section, or a new section at the end of the
// file) and keeps every other byte; the new content replaces the file by rename, so a
// crash never leaves it truncated. A written value reads back as written, up to its trailing
// blanks (a value with leading blanks or enclosing quotes is stored inside quotes). Failures
// are silent, as the program's callers expect.

#include <string>
#include <string_view>

namespace kelvor {

// The value of `key` in `section`, or the empty text when the file, section or key is
// missing. Values are bytes, exactly as stored.
std::string readProfileString(const std::string& path, std::string_view section, std::string_view key);

// Sets `key` in `section` to `value`; returns false when the file could not be written.
bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace kelvor
