#pragma once
// The system seam beyond files: the local time, the working folder, what makes a path
// absolute and the user's language. Each desk implements it (linux/system.cpp, windows/system.cpp).

#include <ctime>
#include <string>
#include <string_view>

namespace kelvor {

// The broken-down local time and UTC time of `seconds` (thread-safe, unlike std::localtime).
std::tm localTime(std::time_t seconds);
std::tm utcTime(std::time_t seconds);

// The working folder, without a trailing separator (the root gives "").
std::string currentDirectory();

// Whether `path` names a file without the working folder: "/x" on Linux; "C:\x", "\\server\x"
// or "\x" on Windows.
bool isAbsolutePath(std::string_view path);

// The device COM1 ... COM8 (port 0 ... 7) stand for when [PORTS] names none: /dev/ttyS0 ...
// on Linux, \\.\COM1 ... on Windows; empty for other numbers.
std::string defaultSerialDevice(int port);

// The user's language as the system names it: on Linux the first of LC_ALL, LC_MESSAGES and
// LANG that is set ("de_DE.UTF-8"), on Windows the user's interface language ("de-DE");
// empty when the system names none.
std::string systemLanguage();

// The folder part of a path, without its last separator ("" when it has none).
std::string folderOf(std::string_view path);

// The path as it is written into KELVOR.INI for the user to read: with the desk's own
// separator only ("C:\Kelvor\english.lan" on Windows, where Kelvor joins names with "/"
// inside; unchanged on Linux, where "\" is a character of a name).
std::string nativePath(std::string_view path);

}  // namespace kelvor
