#pragma once
// What the publisher's thread needs from the system, given by each desk (linux/ and windows/
// publisher_thread.cpp). It waits for two things at once, the broker's socket and a wake from
// the tick (a new reading, new settings, the end): poll and an eventfd on Linux, WSAPoll and a
// datagram socket that talks to itself on Windows. And it runs below the tick's priority.

#include <chrono>
#include <cstdint>

namespace kelvor {

// Sending a backlog keeps the publisher's thread busy: it yields the processor to the 20 ms
// tick, which must never wait for the network.
void lowerThisThreadsPriority();

class SocketWait {
 public:
  SocketWait();
  ~SocketWait();
  SocketWait(const SocketWait&) = delete;
  SocketWait& operator=(const SocketWait&) = delete;

  // From any thread: the wait in progress, or else the next one, returns at once.
  void wake();

  struct Ready {
    bool readable = false;  // an error or a hang-up too: reading is how the library learns of it
    bool writable = false;
  };
  // Waits until `socket` (-1: none) can be read, or written when `wantWrite`, or until a wake
  // or the end of `timeout`.
  Ready wait(int socket, bool wantWrite, std::chrono::milliseconds timeout);

 private:
  std::intptr_t wake_[2] = {-1, -1};  // the system's handles: what wakes, what is woken
};

}  // namespace kelvor
