#include "outputs/reading_format.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <ctime>

#include "toolkit/encoding.h"

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
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis, zone);
  return text;
}

QString utf8(std::string_view bytes) {
  const std::string text = displayText(bytes);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::string localTimeText(SystemTime time) {
  const Split s = split(time);
  std::tm t{};
  localtime_r(&s.seconds, &t);
  const long offset = t.tm_gmtoff;
  const long magnitude = offset < 0 ? -offset : offset;
  char zone[32];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', magnitude / 3600, magnitude / 60 % 60);
  return format(t, s.millis, zone);
}

std::string utcTimeText(SystemTime time) {
  const Split s = split(time);
  std::tm t{};
  gmtime_r(&s.seconds, &t);
  return format(t, s.millis, "Z");
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
  QJsonObject object;
  object.insert(QStringLiteral("value"), utf8(reading.value));
  object.insert(QStringLiteral("frame"), utf8(reading.frame));
  object.insert(QStringLiteral("time"), QString::fromStdString(utcTimeText(reading.time)));
  object.insert(QStringLiteral("seq"), static_cast<qint64>(seq));
  object.insert(QStringLiteral("port"), QString::fromStdString(portName(reading.port)));
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace kelvor
