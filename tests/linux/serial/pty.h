#pragma once
// One pseudo-terminal for the serial tests: the test plays the instrument on the master
// side; closing the master is an instrument that goes away.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace kelvor::testing {

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    slave = ptsname(master);
  }
  ~Pty() { closeMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  void closeMaster() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  void send(const std::string& bytes) const { ASSERT_EQ(::write(master, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
  // What the port sent, waiting up to a tenth of a second for it.
  std::string receive() const {
    char buffer[256];
    for (int tries = 0; tries < 50; ++tries) {
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
      usleep(2000);
    }
    return {};
  }
};

}  // namespace kelvor::testing
