#include "mqtt/publisher_thread.h"

#include <winsock2.h>
#include <windows.h>

namespace kelvor {

void lowerThisThreadsPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

// A wake is one datagram that a socket bound to the loopback sends to itself: WSAPoll then
// waits for it beside the broker's socket, as poll does with an eventfd on Linux.
SocketWait::SocketWait() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long nonBlocking = 1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    ::closesocket(s);
    return;
  }
  wake_[0] = wake_[1] = static_cast<std::intptr_t>(s);
}

SocketWait::~SocketWait() {
  if (wake_[0] != -1) ::closesocket(static_cast<SOCKET>(wake_[0]));
  WSACleanup();
}

void SocketWait::wake() {
  if (wake_[0] != -1) ::send(static_cast<SOCKET>(wake_[0]), "w", 1, 0);
}

SocketWait::Ready SocketWait::wait(int socket, bool wantWrite, std::chrono::milliseconds timeout) {
  WSAPOLLFD fds[2] = {};
  ULONG count = 0;
  if (wake_[1] != -1) fds[count++] = {static_cast<SOCKET>(wake_[1]), POLLRDNORM, 0};
  const ULONG at = count;
  if (socket >= 0) {
    fds[count++] = {static_cast<SOCKET>(socket), static_cast<SHORT>(POLLRDNORM | (wantWrite ? POLLWRNORM : 0)), 0};
  }
  if (count == 0) {
    Sleep(static_cast<DWORD>(timeout.count()));
    return {};
  }
  WSAPoll(fds, count, static_cast<INT>(timeout.count()));
  if (at == 1 && (fds[0].revents & POLLRDNORM)) {
    char drained[64];
    while (::recv(static_cast<SOCKET>(wake_[1]), drained, sizeof drained, 0) > 0) {
    }
  }
  Ready ready;
  if (count > at) {
    ready.readable = (fds[at].revents & (POLLRDNORM | POLLERR | POLLHUP)) != 0;
    ready.writable = (fds[at].revents & POLLWRNORM) != 0;
  }
  return ready;
}

}  // namespace kelvor
