#pragma once
// The serial devices present on this computer, for the device window: the stable names
// under /dev/serial/by-id first (they stay the same whichever USB socket an adapter is
// plugged into), then /dev/ttyUSB*, /dev/ttyACM* and the built-in /dev/ttyS* that really
// are ports (most of the 32 the kernel offers have no hardware behind them). For each,
// what the system knows of it: USB vendor and product, serial number, driver.
//
// Where the list comes from is a seam: the folders are given, so tests list a folder of
// links to pseudo-terminals and an empty /dev.

#include <string>
#include <vector>

namespace kelvor {

struct SerialDevice {
  std::string path;     // the name a COM number is mapped to
  std::string target;   // the device node a link leads to; empty for a node itself
  std::string vendor;   // USB manufacturer, or its vendor id
  std::string product;  // USB product, or its product id
  std::string serial;   // USB serial number
  std::string driver;   // kernel driver (ftdi_sio, cdc_acm, serial8250), or "pseudo-terminal"
};

struct DeviceFolders {
  // Folders of links, listed first and in this order, each link with its target.
  std::vector<std::string> links = {"/dev/serial/by-id"};
  std::string nodes = "/dev";              // ttyUSB*, ttyACM*, ttyS*
  std::string sysfs = "/sys/class/tty";    // what the kernel tells of each tty
};

std::vector<SerialDevice> listSerialDevices(const DeviceFolders& folders);

// The name to write for `device` in [PORTS]: the first link of `devices` that leads to
// the same node (a by-id name survives re-plugging; ttyUSB0 may become ttyUSB1), else the
// device's own path.
std::string preferredName(const SerialDevice& device, const std::vector<SerialDevice>& devices);

// Whether two device names lead to the same device node.
bool sameDevice(const std::string& a, const std::string& b);

}  // namespace kelvor
