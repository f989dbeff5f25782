#pragma once
// Notices that may be given on any thread: handed to the user-interface thread, where the
// windows are. From another thread nothing may wait for the user, so a box that waits
// becomes one that does not.

#include "core/system/ui_thread.h"
#include "core/toolkit/notices.h"

namespace kelvor {

class QueuedNotices : public Notices {
 public:
  QueuedNotices(Notices& target, UiThread& ui) : target_(target), ui_(ui) {}
  void tell(const Notice& n) override;
  void mention(const Notice& n) override;
  void note(const Notice& n) override;
  void showBusy(std::string_view text) override { target_.showBusy(text); }
  void closeBusy() override { target_.closeBusy(); }

 private:
  void onUiThread(std::function<void()> call);
  Notices& target_;
  UiThread& ui_;
};

}  // namespace kelvor
