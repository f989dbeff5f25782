#pragma once
// Notices: the one way any unit tells the user something (an error, a warning, an
// information), with a caption and a text. The program implements it once with Qt windows
// (app/qt_notices.h); tests record what would have been shown.
//
// What an implementation promises:
// - tell() shows a box and returns when the user has closed it (held by the modal gate).
// - mention() shows a box and returns at once: nothing waits for the user.
// - note() shows nothing: the event is already visible elsewhere (the strip), only its line
//   is written.
// - Every error and warning shown, and every note, is also written as one line to
//   standard error with the local time and the cause, so that a problem at an unattended
//   bench can be found afterwards in the session's journal.
// - showBusy() puts up a small window painted at once, for a step that runs without events
//   (opening a port); closeBusy() takes it down.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kelvor {

enum class NoticeKind { Error, Warning, Information };

struct Notice {
  NoticeKind kind = NoticeKind::Information;
  std::string caption;
  std::string text;
  // The icon the box shows when it is not the kind's own: some boxes keep the information
  // icon they always had although what they report is an error.
  std::optional<NoticeKind> icon = std::nullopt;
};

class Notices {
 public:
  virtual ~Notices() = default;
  virtual void tell(const Notice& notice) = 0;
  virtual void mention(const Notice& notice) = 0;
  virtual void note(const Notice& notice) = 0;
  virtual void showBusy(std::string_view text) = 0;
  virtual void closeBusy() = 0;
};

// The line written to standard error for a notice, without its line break:
// "2026-12-07 11:25:44.123 kelvor: error: <caption>: <text>", the text on one line (line
// breaks and runs of blanks become one blank).
std::string noticeLine(const Notice& notice, std::chrono::system_clock::time_point when);

// Whether a notice shown in a box also goes to standard error: errors and warnings do.
inline bool isLogged(NoticeKind kind) { return kind != NoticeKind::Information; }

}  // namespace kelvor
