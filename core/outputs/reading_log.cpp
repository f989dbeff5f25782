#include "core/outputs/reading_log.h"

#include "core/outputs/reading_format.h"

namespace kelvor {

void ReadingLog::setFolder(const std::string& folder) {
  if (folder == folder_) return;
  folder_ = folder;
  file_.close();
  date_.clear();
  failing_ = false;
}

void ReadingLog::write(const Reading& reading) {
  if (folder_.empty()) return;
  std::string error;
  const std::string date = localDateText(reading.time);
  if ((date != date_ || !file_.isOpen()) && !openFileFor(date, error)) return failed(error);
  if (!file_.append(csvLine(reading), error)) {
    // Opened afresh for the next reading, which then finds out how the file ends.
    file_.close();
    return failed(error);
  }
  if (failing_) {
    failing_ = false;
    notices_.note({NoticeKind::Information, "Reading log", "The reading log writes again to " + folder_ + "."});
  }
}

bool ReadingLog::openFileFor(const std::string& date, std::string& error) {
  file_.close();
  date_.clear();
  if (!makeFolders(folder_, error) || !file_.open(folder_ + "/" + date + ".csv", error)) return false;
  if (file_.size() == 0 ? !file_.append(csvHeader(), error) : !completeTornLine(error)) {
    file_.close();
    return false;
  }
  date_ = date;
  return true;
}

// The last line was cut short: a quote left open would swallow the next reading into its
// field, so it is closed before the line is ended.
bool ReadingLog::completeTornLine(std::string& error) {
  if (file_.lastByte() == '\n') return true;
  bool quoted = false;
  if (!readFileChunks(file_.path(), [&quoted](std::string_view chunk) {
        for (const char c : chunk) quoted ^= c == '"';
      }, error)) {
    return false;
  }
  return file_.append(quoted ? "\"\r\n" : "\r\n", error);
}

void ReadingLog::failed(const std::string& cause) {
  if (failing_) return;
  failing_ = true;
  notices_.mention({NoticeKind::Warning, "Reading log",
                    "Readings cannot be written to the log: " + cause +
                        ". Reception goes on; the log starts again by itself once the folder can be written."});
}

}  // namespace kelvor
