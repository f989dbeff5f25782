#pragma once
// A notice seam that shows nothing and records what would have been shown, one entry per
// call ("tell ERROR: text", "mention Kelvor: text", "note ...", "busy Open port RS232",
// "busy closed"), optionally into a log the test shares with other fakes.

#include <string>
#include <vector>

#include "core/toolkit/notices.h"

namespace kelvor {

class RecordingNotices : public Notices {
 public:
  explicit RecordingNotices(std::vector<std::string>* sharedLog = nullptr) : sharedLog_(sharedLog) {}

  void tell(const Notice& notice) override { record("tell", notice); }
  void mention(const Notice& notice) override { record("mention", notice); }
  void note(const Notice& notice) override { record("note", notice); }
  void showBusy(std::string_view text) override { add("busy " + std::string(text)); }
  void closeBusy() override { add("busy closed"); }

  std::vector<Notice> notices;       // every tell, mention and note, in order
  std::vector<std::string> entries;  // every call, in order

  // The texts of the notices told or mentioned (what a user would have read).
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const Notice& n : notices) out.push_back(n.text);
    return out;
  }

 private:
  void record(const char* how, const Notice& notice) {
    notices.push_back(notice);
    add(std::string(how) + " " + notice.caption + ": " + notice.text);
  }
  void add(std::string entry) {
    if (sharedLog_) sharedLog_->push_back(entry);
    entries.push_back(std::move(entry));
  }

  std::vector<std::string>* sharedLog_;
};

}  // namespace kelvor
