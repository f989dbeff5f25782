#pragma once
// The reading log: every delivered reading appended as one CSV line to a file of the day
// (<folder>/<local date>.csv, opened with a header line), so that a reading the target program
// missed is never lost and a day's measurements can be audited.
//
// What it promises:
// - Whole lines only: a line is appended in one piece or not at all, and each is handed to
//   the system at once, so a crash loses at most the reading being written.
// - A file that ends in a torn line (a power cut in the middle of a write) is completed at the
//   next opening, closing a quoted field left open and ending the line, so the torn reading
//   stays apart from the next one.
// - A folder that cannot be written or a full disk is told once; reception goes on, and the
//   log resumes by itself with the first reading that can be written again.

#include <string>

#include "core/outputs/reading.h"
#include "core/system/files.h"
#include "core/toolkit/notices.h"

namespace kelvor {

class ReadingLog {
 public:
  explicit ReadingLog(Notices& notices) : notices_(notices) {}

  // The folder the log writes into; empty switches the log off.
  void setFolder(const std::string& folder);
  const std::string& folder() const { return folder_; }

  void write(const Reading& reading);

 private:
  bool openFileFor(const std::string& date, std::string& error);
  bool completeTornLine(std::string& error);
  void failed(const std::string& cause);

  Notices& notices_;
  std::string folder_;
  std::string date_;  // the day of the open file
  AppendFile file_;
  bool failing_ = false;
};

}  // namespace kelvor
