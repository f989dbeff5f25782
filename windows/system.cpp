#include "core/system/system.h"

#include <windows.h>

#include <vector>

#include "windows/text_convert.h"

namespace kelvor {

std::tm localTime(std::time_t seconds) {
  std::tm local{};
  localtime_s(&local, &seconds);
  return local;
}

std::tm utcTime(std::time_t seconds) {
  std::tm utc{};
  gmtime_s(&utc, &seconds);
  return utc;
}

std::string currentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::vector<wchar_t> buffer(size + 1);
  const DWORD got = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (got == 0 || got >= buffer.size()) return {};
  // Kelvor joins names with "/", which Windows takes as well as "\": one separator
  // throughout keeps its own paths comparable.
  std::string dir = fromWide(std::wstring(buffer.data(), got));
  for (char& c : dir) {
    if (c == '\\') c = '/';
  }
  while (!dir.empty() && dir.back() == '/') dir.pop_back();  // "C:\" gives "C:"
  return dir;
}

bool isAbsolutePath(std::string_view path) {
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  if (!path.empty() && separator(path.front())) return true;  // the root of the drive, or a share
  const bool letter = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return letter && path[1] == ':' && separator(path[2]);
}

std::string defaultSerialDevice(int port) {
  return port >= 0 && port < 8 ? "\\\\.\\COM" + std::to_string(port + 1) : std::string();
}

std::string folderOf(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

}  // namespace kelvor
