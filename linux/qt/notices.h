#pragma once
// The notice seam as the program shows it: message boxes, the busy notice while a port
// opens, and a line on standard error for every error, warning and note.

#include <iosfwd>
#include <memory>

#include "core/toolkit/notices.h"

class QWidget;

namespace kelvor {

class PortNotice;

class QtNotices : public Notices {
 public:
  // `log`: where the lines go (standard error in the program).
  explicit QtNotices(std::ostream& log);
  ~QtNotices() override;

  // The window boxes that do not wait belong to (the strip), so they close with it.
  void setOwner(QWidget* owner) { owner_ = owner; }

  void tell(const Notice& notice) override;
  void mention(const Notice& notice) override;
  void note(const Notice& notice) override;
  void showBusy(std::string_view text) override;
  void closeBusy() override;

 private:
  void writeLine(const Notice& notice);

  std::ostream& log_;
  QWidget* owner_ = nullptr;
  std::unique_ptr<PortNotice> busy_;
};

}  // namespace kelvor
