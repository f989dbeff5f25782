#include "linux/qt/notices.h"

#include <QMessageBox>
#include <ostream>

#include "core/toolkit/modal_gate.h"
#include "linux/qt/exec_modal.h"
#include "linux/qt/layout.h"
#include "linux/qt/port_notice.h"

namespace kelvor {
namespace {

QMessageBox::Icon iconOf(const Notice& notice) {
  switch (notice.icon.value_or(notice.kind)) {
    case NoticeKind::Error: return QMessageBox::Critical;
    case NoticeKind::Warning: return QMessageBox::Warning;
    case NoticeKind::Information: return QMessageBox::Information;
  }
  return QMessageBox::Information;
}

QString fromBytes(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QtNotices::QtNotices(std::ostream& log) : log_(log) {}

QtNotices::~QtNotices() = default;

void QtNotices::writeLine(const Notice& notice) {
  log_ << noticeLine(notice, std::chrono::system_clock::now()) << std::endl;
}

void QtNotices::tell(const Notice& notice) {
  if (isLogged(notice.kind)) writeLine(notice);
  QMessageBox box(iconOf(notice), fromBytes(notice.caption), fromBytes(notice.text), QMessageBox::Ok);
  // The strip stays on top of every window: a box that waits for the user must not open
  // hidden behind it.
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  execModal(box);
}

void QtNotices::mention(const Notice& notice) {
  if (isLogged(notice.kind)) writeLine(notice);
  auto* box = new QMessageBox(iconOf(notice), fromBytes(notice.caption), fromBytes(notice.text), QMessageBox::Ok,
                              owner_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  placeClearOfStrip(*box);
}

void QtNotices::note(const Notice& notice) { writeLine(notice); }

void QtNotices::showBusy(std::string_view text) {
  if (!busy_) busy_ = std::make_unique<PortNotice>();
  busy_->showText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void QtNotices::closeBusy() {
  if (busy_) busy_->hide();
}

}  // namespace kelvor
