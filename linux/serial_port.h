#pragma once
// The serial library over POSIX termios: real serial ports, USB adapters and
// pseudo-terminals alike.
//
// What it promises:
// - The device behind a COM number comes from KELVOR.INI, section [PORTS], keys COM1 ...
//   (a missing key means /dev/ttyS0 ... /dev/ttyS7), read at each SetPortEx.
// - A device is opened exclusively: flock(LOCK_EX | LOCK_NB), which holds for root too, and
//   TIOCEXCL. It is put in raw mode: bytes arrive exactly as sent (no echo, no CR/LF
//   translation, no signals), the modem lines are not watched (CLOCAL).
// - ComGetb never blocks and delivers at most 2549 bytes per call.
// - Modem-line calls that a pseudo-terminal refuses (DTR) are ignored.
// - A device that vanishes while open (USB adapter pulled, pseudo-terminal's other end
//   closed) is released at once and the port reports itself Lost, with the cause and the
//   time; nothing is shown here (reception decides what the user sees). Later reads
//   return nothing until the port is reset and opened again.
// - Every message names the COM number, the device and the cause in plain words, with the
//   fix where there is one.

#include <functional>
#include <map>
#include <string>

#include "core/line/serial_library.h"
#include "core/toolkit/notices.h"

namespace kelvor {

class TermiosSerialLibrary : public SerialLibrary {
 public:
  // `iniFilePath`: KELVOR.INI, whose [PORTS] section names the devices; `notices`: where
  // DisplayPortError's message goes (a box the user closes whenever he likes, in the program).
  TermiosSerialLibrary(std::string iniFilePath, Notices& notices);
  ~TermiosSerialLibrary() override;

  // The device a 0-based port number stands for; empty when none can be named.
  std::string devicePath(int port) const override;


  // Error codes of SetPortEx.
  enum ErrorCode : std::int16_t {
    kNoDevice = 1,        // the device does not exist
    kPermission = 2,      // no permission to open it
    kBusy = 3,            // another program (or another window of Kelvor) has it
    kNotATerminal = 4,    // a file, a directory: not a serial port
    kNoPortNumber = 5,    // a port number with no device configured
    kSystem = 6,          // any other refusal of the system
    kLinkLoop = 7,        // a symbolic link that leads back to itself
  };

  std::int16_t SetPortEx(int port, std::uint16_t handle, int readTimeout, int writeTimeout, int useCts, int useXon,
                         int useDtr) override;
  std::int16_t InitPort(int port, std::int16_t baudRate, int parity, int dataBits, int stopBits) override;
  void Dtr(int port, int level) override;
  void ComDelay(int handleOrPort, int count) override;
  void ClrBuf(int port) override;
  void ResetPort(int port, std::uint16_t handle) override;
  void DisplayPortError(std::int16_t code) override;
  std::int16_t ComGetb(int port, ZField<2550>& receiveBuffer) override;
  std::int16_t ComGetbUpTo(int port, ZField<2550>& receiveBuffer, std::size_t most) override;
  void ComPutb(int port, const char* bytes, int count) override;
  void ComPuts(int port, std::string_view text) override;

  PortHealth health(int port) const override;
  PortLoss loss(int port) const override;
  std::uint64_t inputOverruns(int port) const override;
  std::string errorMessage(std::int16_t code) const override;
  bool isMissingDevice(std::int16_t code) const override { return code == kNoDevice; }

 private:
  struct OpenDevice {
    int fd = -1;
    std::string device;
    int writeTimeoutMs = 1000;
    bool lost = false;  // vanished while open: released, reads return nothing
    PortLoss loss;      // what is known of it, when lost
  };
  // What the last refused SetPortEx knew, for DisplayPortError.
  struct Failure {
    std::int16_t code = 0;
    int port = 0;
    std::string device;
    int error = 0;      // errno
  };

  std::int16_t fail(int port, const std::string& device, int error, std::int16_t code);
  OpenDevice* openDevice(int port);
  void markLost(OpenDevice& open, int error);
  void writeAll(int port, const char* bytes, std::size_t count);
  void tell(const std::string& message);

  std::string iniFilePath_;
  std::map<int, OpenDevice> ports_;
  Failure lastFailure_;
  Notices& notices_;
};

}  // namespace kelvor
