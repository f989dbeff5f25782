#include "mqtt/publisher_thread.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kelvor {

void lowerThisThreadsPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10); }

SocketWait::SocketWait() {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  wake_[0] = wake_[1] = fd;
}

SocketWait::~SocketWait() {
  if (wake_[0] >= 0) ::close(static_cast<int>(wake_[0]));
}

void SocketWait::wake() { eventfd_write(static_cast<int>(wake_[0]), 1); }

SocketWait::Ready SocketWait::wait(int socket, bool wantWrite, std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{static_cast<int>(wake_[1]), POLLIN, 0}, {socket, 0, 0}};
  nfds_t count = 1;
  if (socket >= 0) {
    fds[1].events = static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0));
    count = 2;
  }
  ::poll(fds, count, static_cast<int>(timeout.count()));
  if (fds[0].revents & POLLIN) {
    eventfd_t value = 0;
    eventfd_read(static_cast<int>(wake_[1]), &value);
  }
  Ready ready;
  if (count == 2) {
    ready.readable = (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    ready.writable = (fds[1].revents & POLLOUT) != 0;
  }
  return ready;
}

}  // namespace kelvor
