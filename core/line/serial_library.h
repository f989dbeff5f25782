#pragma once
// The serial library: the ten operations the program drives a port with, under the names
// and with the results the rest of Kelvor relies on. Port numbers are 0-based (0 = COM1);
// the device behind each number comes from KELVOR.INI [PORTS]. The termios implementation
// lives in platform/; tests put a fake or a pseudo-terminal behind this seam.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/toolkit/text.h"

namespace kelvor {

class SerialLibrary {
 public:
  virtual ~SerialLibrary() = default;

  // Opens the port exclusively with the flow control asked for; 0 = success, else an
  // error code for DisplayPortError.
  virtual std::int16_t SetPortEx(int port, std::uint16_t handle, int readTimeout, int writeTimeout,
                                 int useCts, int useXon, int useDtr) = 0;
  // Sets rate (16-bit: -27136 means 38400), parity (0 none, 1 odd, 2 even), data and stop
  // bits of the opened port; 0 = success.
  virtual std::int16_t InitPort(int port, std::int16_t baudRate, int parity, int dataBits,
                                int stopBits) = 0;
  virtual void Dtr(int port, int level) = 0;
  // A short wait; the first argument is a window handle or a port, and only the count matters.
  virtual void ComDelay(int handleOrPort, int count) = 0;
  virtual void ClrBuf(int port) = 0;
  virtual void ResetPort(int port, std::uint16_t handle) = 0;
  // Tells the user, in plain words, why SetPortEx failed with `code`. The box does not hold
  // the program: the tick and the DDE server go on until the user closes it.
  virtual void DisplayPortError(std::int16_t code) = 0;
  // Never blocks: the bytes received since the last call (at most 2549) into
  // `receiveBuffer`; returns their count, 0 when none.
  virtual std::int16_t ComGetb(int port, ZField<2550>& receiveBuffer) = 0;
  // ComGetb taking at most `most` bytes (1 to 2549): the rest stays with the port (the
  // system's own buffer) for the next read, instead of being read into a buffer that
  // cannot keep it.
  virtual std::int16_t ComGetbUpTo(int port, ZField<2550>& receiveBuffer, std::size_t most) {
    (void)most;
    return ComGetb(port, receiveBuffer);
  }
  virtual void ComPutb(int port, const char* bytes, int count) = 0;
  virtual void ComPuts(int port, std::string_view text) = 0;

  // Beyond the ten operations: what became of a port, so that reception can notice a
  // device that went away and bring it back without a box the user has to close.
  enum class PortHealth { Closed, Open, Lost };
  struct PortLoss {
    std::string device;  // the device as [PORTS] named it when it was opened
    std::string cause;   // in plain words: "the line hung up", "Input/output error"
    std::chrono::system_clock::time_point when{};
  };
  // Open, Closed (never opened, refused, or reset), or Lost: the device vanished while
  // open; it has been released, reads return nothing, and ResetPort forgets it.
  virtual PortHealth health(int /*port*/) const { return PortHealth::Closed; }
  // The device a port number stands for now ([PORTS] of KELVOR.INI); empty when none.
  virtual std::string devicePath(int /*port*/) const { return {}; }
  // What is known of the loss of a port whose health is Lost.
  virtual PortLoss loss(int /*port*/) const { return {}; }
  // Whether a SetPortEx `code` means only that the device is not there (nothing to tell
  // while waiting for it to come back).
  virtual bool isMissingDevice(std::int16_t /*code*/) const { return false; }
  // How many times the port's own input buffer (the device's or its driver's) overflowed
  // and lost characters, as the system counts them; 0 where it does not count them.
  virtual std::uint64_t inputOverruns(int /*port*/) const { return 0; }
  // The text DisplayPortError shows for `code`, without showing it.
  virtual std::string errorMessage(std::int16_t code) const {
    return "The serial port could not be opened (error " + std::to_string(code) + ").";
  }
};

}  // namespace kelvor
