#pragma once
// The COM ports Windows knows, for the device window: the names the system's device map
// gives (QueryDosDevice) and the serial ports it has registered (SERIALCOMM in the
// registry), and, where the Ports class of the device manager has the port, its friendly
// name, USB vendor and product ids, serial number and driver. A port the device manager
// does not describe is listed by its name alone.

#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

struct SerialDevice {
  std::string path;     // the name a COM number is mapped to: "COM5"
  std::string target;   // the device object the name leads to ("\Device\Serial0")
  std::string vendor;   // USB vendor id, or the manufacturer
  std::string product;  // the device manager's friendly name, or the USB product id
  std::string serial;   // USB serial number
  std::string driver;   // the driver service (usbser, FTDIBUS, Serial)
};

// The COM names among `names` (any case), each once, in the order COM1, COM2 ... COM10.
std::vector<std::string> comNamesOf(const std::vector<std::string>& names);

// Vendor and product ids of a hardware id ("USB\VID_0403&PID_6001&REV_0600" gives 0403 and
// 6001); empty when it names none. The serial number is the last part of a USB device's
// instance id ("USB\VID_0403&PID_6001\A12345" gives A12345).
struct UsbIds {
  std::string vendor, product, serial;
};
UsbIds usbIdsOf(std::string_view hardwareId, std::string_view instanceId);

std::vector<SerialDevice> listSerialDevices();

// Whether two names of [PORTS] name the same port: "COM5" and "\\.\com5" do.
bool samePort(std::string_view a, std::string_view b);

}  // namespace kelvor
