#include "core/outputs/reading_format.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "core/system/system.h"
#include "core/toolkit/encoding.h"

namespace kelvor {
namespace {

struct Split {
  std::time_t seconds;
  int millis;
};

// Whole seconds and the milliseconds within them, also for times before 1970.
Split split(SystemTime time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  long long seconds = ms / 1000;
  long long millis = ms % 1000;
  if (millis < 0) {
    millis += 1000;
    seconds -= 1;
  }
  return {static_cast<std::time_t>(seconds), static_cast<int>(millis)};
}

std::string format(const std::tm& t, int millis, const char* zone) {
  char text[128];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis, zone);
  return text;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

// How far local time is ahead of UTC at `seconds`, from the local time itself, since not
// every C library says so in its broken-down time.
long utcOffset(const std::tm& local, std::time_t seconds) {
  const long long localSeconds =
      daysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday)) *
          86400 +
      local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
  return static_cast<long>(localSeconds - static_cast<long long>(seconds));
}

}  // namespace

std::string localTimeText(SystemTime time) {
  const Split s = split(time);
  const std::tm t = localTime(s.seconds);
  const long offset = utcOffset(t, s.seconds);
  const long magnitude = offset < 0 ? -offset : offset;
  char zone[32];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', magnitude / 3600, magnitude / 60 % 60);
  return format(t, s.millis, zone);
}

std::string utcTimeText(SystemTime time) {
  const Split s = split(time);
  return format(utcTime(s.seconds), s.millis, "Z");
}

std::string localDateText(SystemTime time) { return localTimeText(time).substr(0, 10); }

std::string portName(int port) { return "COM" + std::to_string(port + 1); }

std::string csvField(std::string_view utf8) {
  bool quote = !utf8.empty() && (utf8.front() == ' ' || utf8.back() == ' ');
  for (const char c : utf8) quote = quote || c == ',' || c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  if (!quote) return std::string(utf8);
  std::string field = "\"";
  for (const char c : utf8) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + '"';
}

std::string csvHeader() { return "time,configuration,port,value,frame\r\n"; }

std::string csvLine(const Reading& reading) {
  return localTimeText(reading.time) + ',' + csvField(displayText(reading.configurationName)) + ',' +
         portName(reading.port) + ',' + csvField(displayText(reading.value)) + ',' +
         csvField(displayText(reading.frame)) + "\r\n";
}

std::string readingJson(const Reading& reading, std::uint64_t seq) {
  // The keys in alphabetical order, as nlohmann::json keeps them.
  const nlohmann::json object = {
      {"value", displayText(reading.value)},
      {"frame", displayText(reading.frame)},
      {"time", utcTimeText(reading.time)},
      {"seq", seq},
      {"port", portName(reading.port)},
  };
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace kelvor
