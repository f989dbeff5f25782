#pragma once
// The serial library over Win32 COM ports: real ports, USB adapters, and under Wine the
// pseudo-terminal a COM name is linked to.
//
// What it promises:
// - The device behind a COM number is the one the desk's [PORTS] lookup names ("COM5",
//   "\\.\COM12", a device path), read at each SetPortEx.
// - A port is opened exclusively, in binary mode, with the DCB built from the settings;
//   reads never block (COMMTIMEOUTS {MAXDWORD, 0, 0}): the tick polls.
// - ComGetb never blocks and delivers at most 2549 bytes per call.
// - DTR and RTS calls that a device refuses (ERROR_INVALID_PARAMETER or "not supported",
//   as every pseudo-terminal under Wine answers) are not errors.
// - A device that vanishes while open is seen at the next ComGetb (ClearCommError fails;
//   ReadFile alone keeps saying "nothing there"), released at once, and the port reports
//   itself Lost with the cause and the time; nothing is shown here.
// - Every message names the COM number, the device and the cause in plain words.

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "core/line/serial_library.h"
#include "core/toolkit/notices.h"

namespace kelvor {

class Win32SerialLibrary : public SerialLibrary {
 public:
  // `deviceFor`: the device a 0-based port number stands for, empty when none; `notices`:
  // where DisplayPortError's message goes.
  Win32SerialLibrary(std::function<std::string(int)> deviceFor, Notices& notices);
  ~Win32SerialLibrary() override;

  enum ErrorCode : std::int16_t {
    kNoDevice = 1,      // no such port
    kPermission = 2,    // refused by the system's access rules
    kBusy = 3,          // another program (or another window of Kelvor) has it
    kNotASerialPort = 4,
    kNoPortNumber = 5,  // a port number with no device configured
    kSystem = 6,
  };

  std::string devicePath(int port) const override;
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
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string device;
    DWORD writeTimeoutMs = 1000;
    bool lost = false;
    PortLoss loss;
    std::uint64_t overruns = 0;  // reads that found the driver's overflow flags set
  };
  struct Failure {
    std::int16_t code = 0;
    int port = 0;
    std::string device;
    DWORD error = 0;  // GetLastError()
  };

  std::int16_t fail(int port, const std::string& device, DWORD error, std::int16_t code);
  OpenDevice* openDevice(int port);
  void markLost(OpenDevice& open, DWORD error);
  void writeAll(int port, const char* bytes, std::size_t count);

  std::function<std::string(int)> deviceFor_;
  std::map<int, OpenDevice> ports_;
  Failure lastFailure_;
  Notices& notices_;
};

// The Win32 name of a device for CreateFile: "COM12" becomes "\\.\COM12"; a name that
// already starts with "\\" stays as it is.
std::string win32DeviceName(const std::string& device);

// A system error in plain words, without the trailing full stop and line break.
std::string systemErrorText(DWORD error);

}  // namespace kelvor
