#include "linux/device_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelvor {
namespace {

constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB |
                                  IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

InotifyDeviceWatch::~InotifyDeviceWatch() { stop(); }

void InotifyDeviceWatch::watch(const std::string& device) {
  const auto slash = device.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : device.substr(0, slash);
  const std::string name = slash == std::string::npos ? device : device.substr(slash + 1);
  if (watchId_ >= 0 && folder == folder_ && name == name_) return;
  stop();
  folder_ = folder;
  name_ = name;
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return;
  watchId_ = inotify_add_watch(fd_, folder_.c_str(), kEvents);
  if (watchId_ < 0) stop();  // no such folder yet (/dev/serial before the first adapter)
}

bool InotifyDeviceWatch::changed() {
  if (fd_ < 0) return false;
  bool ours = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) {
        // The folder itself went (or events were lost): try now, and watch again later.
        ours = true;
        if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) watchId_ = -1;
        continue;
      }
      if (event->len > 0 && name_ == event->name) ours = true;
    }
  }
  if (watchId_ < 0) stop();  // watched again by the next retry's watch()
  return ours;
}

void InotifyDeviceWatch::stop() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  watchId_ = -1;
  folder_.clear();
  name_.clear();
}

}  // namespace kelvor
