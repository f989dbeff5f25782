#pragma once
// The notice seam on Windows: message boxes with the same captions and texts as on Linux,
// the busy notice while a port opens, and the stamped line of every error, warning and note
// on standard error (when the program has one) and in kelvor.log in the working folder, so
// that an unattended bench can be checked afterwards. The log is bounded: when a line would
// take it past kLogLimit bytes, its older half is dropped first.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "core/toolkit/notices.h"

namespace kelvor {

constexpr std::size_t kLogLimit = 1u << 20;

// What is kept of a log that grew too long: its newer half, from a line's start.
std::string newerHalf(std::string_view log);

class Win32Notices : public Notices {
 public:
  // `logPath`: kelvor.log in the working folder.
  explicit Win32Notices(std::string logPath);
  ~Win32Notices() override;

  // The window boxes belong to (the strip), and how a box that waits for the user runs:
  // the front end holds its events meanwhile.
  void setOwner(HWND owner) { owner_ = owner; }
  void setModalRunner(std::function<void(const std::function<void()>&)> runModal) { runModal_ = std::move(runModal); }

  void tell(const Notice& notice) override;
  void mention(const Notice& notice) override;
  void note(const Notice& notice) override;
  void showBusy(std::string_view text) override;
  void closeBusy() override;

 private:
  void writeLine(const Notice& notice);

  std::string logPath_;
  HWND owner_ = nullptr;
  HWND busy_ = nullptr;
  std::wstring busyText_;
  std::function<void(const std::function<void()>&)> runModal_;
};

}  // namespace kelvor
