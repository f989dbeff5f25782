#include "core/system/system.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace kelvor {

std::tm localTime(std::time_t seconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::tm utcTime(std::time_t seconds) {
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return utc;
}

std::string currentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  std::string dir(buffer.data());
  while (!dir.empty() && dir.back() == '/') dir.pop_back();  // the root gives ""
  return dir;
}

bool isAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

std::string defaultSerialDevice(int port) {
  return port >= 0 && port < 8 ? "/dev/ttyS" + std::to_string(port) : std::string();
}

std::string systemLanguage() {
  // The order in which the C library itself decides the language of messages.
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

std::string folderOf(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string nativePath(std::string_view path) { return std::string(path); }

}  // namespace kelvor
