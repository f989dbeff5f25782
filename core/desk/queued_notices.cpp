#include "core/desk/queued_notices.h"

namespace kelvor {

void QueuedNotices::onUiThread(std::function<void()> call) {
  if (ui_.isCurrent()) return call();
  ui_.post(std::move(call));
}

void QueuedNotices::tell(const Notice& n) {
  if (ui_.isCurrent()) return target_.tell(n);
  ui_.post([this, n] { target_.mention(n); });
}

void QueuedNotices::mention(const Notice& n) {
  onUiThread([this, n] { target_.mention(n); });
}

void QueuedNotices::note(const Notice& n) {
  onUiThread([this, n] { target_.note(n); });
}

}  // namespace kelvor
