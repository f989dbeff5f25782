#include "core/toolkit/notices.h"

#include <ctime>

#include "core/system/system.h"

namespace kelvor {
namespace {

const char* kindWord(NoticeKind kind) {
  switch (kind) {
    case NoticeKind::Error: return "error";
    case NoticeKind::Warning: return "warning";
    case NoticeKind::Information: return "information";
  }
  return "information";
}

// A journal keeps one line per record: line breaks and the blanks around them would split
// or pad the cause, so every run of white space becomes one blank.
void appendOneLine(std::string& line, std::string_view text) {
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      blank = true;
      continue;
    }
    if (blank && !line.empty() && line.back() != ' ') line += ' ';
    blank = false;
    line += c;
  }
}

}  // namespace

std::string noticeLine(const Notice& notice, std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  const std::tm local = localTime(seconds);
  char stamp[40];
  const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(stamp + n, sizeof stamp - n, ".%03d", static_cast<int>(millis < 0 ? millis + 1000 : millis));

  std::string line = std::string(stamp) + " kelvor: " + kindWord(notice.kind) + ": ";
  std::string body;
  appendOneLine(body, notice.caption);
  if (!body.empty()) body += ": ";
  appendOneLine(body, notice.text);
  return line + body;
}

}  // namespace kelvor
