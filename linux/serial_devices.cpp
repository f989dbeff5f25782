#include "linux/serial_devices.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace kelvor {
namespace {

namespace fs = std::filesystem;

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

// "ttyUSB10" after "ttyUSB9": names compare by their prefix, then their number.
bool naturalLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    const auto digits = s.find_last_not_of("0123456789") + 1;
    const std::string number = s.substr(digits);
    return std::make_pair(s.substr(0, digits), number.empty() ? -1L : std::stol(number.substr(0, 9)));
  };
  return split(a) < split(b);
}

// What sysfs says of the tty `name` (ttyUSB0): the driver, and the USB device's
// manufacturer, product and serial number when it hangs off USB.
void describe(SerialDevice& device, const std::string& name, const fs::path& sysfs) {
  std::error_code ec;
  const fs::path tty = sysfs / name / "device";
  // The first driver above the tty that is not the serial core's own ("port", "ctrl" on
  // newer kernels): serial8250, ftdi_sio, cdc_acm.
  fs::path at = fs::canonical(tty, ec);
  for (int up = 0; !ec && up < 4 && at.has_relative_path(); ++up, at = at.parent_path()) {
    std::error_code linkError;
    const std::string driver = fs::read_symlink(at / "driver", linkError).filename().string();
    if (linkError || driver == "port" || driver == "ctrl") continue;
    device.driver = driver;
    break;
  }
  // The USB device is the first folder above the interface that has a vendor id.
  at = fs::canonical(tty, ec);
  for (int up = 0; !ec && up < 4 && at.has_relative_path(); ++up, at = at.parent_path()) {
    if (!fs::exists(at / "idVendor", ec)) continue;
    device.vendor = firstLine(at / "manufacturer");
    if (device.vendor.empty()) device.vendor = firstLine(at / "idVendor");
    device.product = firstLine(at / "product");
    if (device.product.empty()) device.product = firstLine(at / "idProduct");
    device.serial = firstLine(at / "serial");
    break;
  }
}

// A built-in port the kernel offers whether or not a UART answers behind it: sysfs says
// its type (0 = none), or else the port itself does.
bool isRealPort(const fs::path& node, const fs::path& sysfs) {
  const std::string type = firstLine(sysfs / node.filename() / "type");
  if (!type.empty()) return type != "0";
  const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool real = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return real;
}

void addLinks(std::vector<SerialDevice>& devices, const std::string& folder, const fs::path& sysfs) {
  std::error_code ec;
  std::vector<fs::path> links;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.is_symlink(ec)) links.push_back(entry.path());
  }
  std::sort(links.begin(), links.end());
  for (const fs::path& link : links) {
    SerialDevice device;
    device.path = link.string();
    std::error_code targetError;
    const fs::path target = fs::canonical(link, targetError);
    device.target = targetError ? "(no device)" : target.string();
    if (!targetError) {
      if (device.target.rfind("/dev/pts/", 0) == 0) {
        device.driver = "pseudo-terminal";
      } else {
        describe(device, target.filename().string(), sysfs);
      }
    }
    devices.push_back(device);
  }
}

}  // namespace

std::vector<SerialDevice> listSerialDevices(const DeviceFolders& folders) {
  std::vector<SerialDevice> devices;
  const fs::path sysfs = folders.sysfs;
  for (const std::string& folder : folders.links) addLinks(devices, folder, sysfs);

  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folders.nodes, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0 || name.rfind("ttyS", 0) == 0) {
      names.push_back(name);
    }
  }
  const auto rank = [](const std::string& name) { return name.rfind("ttyUSB", 0) == 0 ? 0 : name.rfind("ttyACM", 0) == 0 ? 1 : 2; };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    return rank(a) != rank(b) ? rank(a) < rank(b) : naturalLess(a, b);
  });
  for (const std::string& name : names) {
    const fs::path node = fs::path(folders.nodes) / name;
    if (rank(name) == 2 && !isRealPort(node, sysfs)) continue;
    SerialDevice device;
    device.path = node.string();
    describe(device, name, sysfs);
    devices.push_back(device);
  }
  return devices;
}

bool sameDevice(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ea, eb;
  const fs::path na = fs::canonical(a, ea);
  const fs::path nb = fs::canonical(b, eb);
  return !ea && !eb && na == nb;
}

std::string preferredName(const SerialDevice& device, const std::vector<SerialDevice>& devices) {
  if (!device.target.empty()) return device.path;  // already a link
  for (const SerialDevice& other : devices) {
    if (!other.target.empty() && sameDevice(other.path, device.path)) return other.path;
  }
  return device.path;
}

}  // namespace kelvor
