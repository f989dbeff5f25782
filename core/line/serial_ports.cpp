#include "core/line/serial_ports.h"

#include "core/settings/profile_file.h"
#include "core/system/system.h"

namespace kelvor {

std::string comName(int port) { return "COM" + std::to_string(port + 1); }

std::string comDevice(const std::string& iniFilePath, int port) {
  if (port < 0) return {};
  std::string device = readProfileString(iniFilePath, "PORTS", comName(port));
  const auto end = device.find_last_not_of(' ');
  device.erase(end == std::string::npos ? 0 : end + 1);
  if (!device.empty()) return device;
  return defaultSerialDevice(port);
}

std::string whereToSetDevice(int port) {
  return "the \"Serial devices\" window of the menu (the key " + comName(port) + " in section [PORTS] of KELVOR.INI)";
}

}  // namespace kelvor
