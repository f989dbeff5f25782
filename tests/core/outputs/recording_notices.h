#pragma once
// Notices as the tests see them: recorded, never shown. Safe to call from any thread, as the
// publisher's notices come from its own.

#include <mutex>
#include <string>
#include <vector>

#include "core/toolkit/notices.h"

namespace kelvor {

class RecordingNotices : public Notices {
 public:
  void tell(const Notice& n) override { record(n); }
  void mention(const Notice& n) override { record(n); }
  void note(const Notice& n) override {
    std::lock_guard lock(mutex_);
    notes_.push_back(n);
  }
  void showBusy(std::string_view) override {}
  void closeBusy() override {}

  // The notices shown (told or mentioned), not the notes.
  std::vector<Notice> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  std::vector<Notice> notes() const {
    std::lock_guard lock(mutex_);
    return notes_;
  }

 private:
  void record(const Notice& n) {
    std::lock_guard lock(mutex_);
    shown_.push_back(n);
  }
  mutable std::mutex mutex_;
  std::vector<Notice> shown_;
  std::vector<Notice> notes_;
};

}  // namespace kelvor
