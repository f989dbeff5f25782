#include "core/system/system.h"

#include <windows.h>

#include <vector>

#include "windows/text_convert.h"

namespace kelvor {

namespace {

// The UTC fields of a time the C runtime refuses (it takes none before 1970).
std::tm fieldsOf(long long seconds) {
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    days -= 1;
  }
  std::tm t{};
  t.tm_hour = static_cast<int>(rest / 3600);
  t.tm_min = static_cast<int>(rest / 60 % 60);
  t.tm_sec = static_cast<int>(rest % 60);
  t.tm_wday = static_cast<int>(((days + 4) % 7 + 7) % 7);
  // Days to the civil date, in eras of 400 years that start on 1 March.
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long dayOfEra = z - era * 146097;
  const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const long long year = yearOfEra + era * 400 + (month <= 2);
  t.tm_year = static_cast<int>(year - 1900);
  t.tm_mon = month - 1;
  t.tm_mday = day;
  return t;
}

}  // namespace

std::tm localTime(std::time_t seconds) {
  std::tm local{};
  if (localtime_s(&local, &seconds) == 0) return local;
  // Before 1970: the zone's offset at the start of 1970, without summer time.
  std::tm atEpoch{};
  const std::time_t epoch = 0;
  if (localtime_s(&atEpoch, &epoch) != 0) return fieldsOf(seconds);
  const long long offset = (atEpoch.tm_year - 70) * 86400LL * 365 + atEpoch.tm_yday * 86400LL +
                           atEpoch.tm_hour * 3600LL + atEpoch.tm_min * 60LL + atEpoch.tm_sec;
  return fieldsOf(static_cast<long long>(seconds) + offset);
}

std::tm utcTime(std::time_t seconds) {
  std::tm utc{};
  if (gmtime_s(&utc, &seconds) == 0) return utc;
  return fieldsOf(seconds);
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

std::string systemLanguage() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) == 0)
    return {};
  return fromWide(name);
}

std::string folderOf(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string nativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native) {
    if (c == '/') c = '\\';
  }
  return native;
}

}  // namespace kelvor
