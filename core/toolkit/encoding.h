#pragma once
// Bytes from files and the serial line are Windows-1252 or UTF-8. These helpers turn them
// into UTF-8 for display and back into Windows-1252 for the line.

#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

bool isValidUtf8(std::string_view bytes);

// Valid UTF-8 stays as it is; anything else is read as Windows-1252.
std::string displayText(std::string_view bytes);

// Valid UTF-8 stays as it is; each byte that does not belong to a character becomes U+FFFD.
std::string replaceInvalidUtf8(std::string_view bytes);

// The characters of a UTF-8 text; bytes that do not form a character are left out.
std::vector<char32_t> codePoints(std::string_view utf8);

// UTF-8 text as Windows-1252 bytes; a character outside Windows-1252 becomes "?".
std::string toWindows1252(std::string_view utf8);

}  // namespace kelvor
