// The device list over folders laid out like /dev/serial/by-id, /dev and /sys/class/tty.
#include "linux/serial_devices.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace kelvor {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

TEST(SerialDevices, ListsLinksFirstThenUsbAcmAndOnlyRealBuiltInPortsWithWhatTheSystemKnows) {
  const fs::path root = fs::path(::testing::TempDir()) / ("kelvor_devices_" + std::to_string(getpid()));
  fs::remove_all(root);
  const fs::path byId = root / "by-id", dev = root / "dev", sys = root / "sys", usb = root / "usb1" / "1-1";
  for (const char* node : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "tty0"}) write(dev / node, "");
  // ttyUSB2 hangs off an FTDI adapter: interface folder under the USB device.
  write(usb / "idVendor", "0403");
  write(usb / "manufacturer", "FTDI");
  write(usb / "product", "FT232R USB UART");
  write(usb / "serial", "A50285BI");
  fs::create_directories(usb / "1-1:1.0" / "ttyUSB2");
  fs::create_directories(root / "drivers" / "ftdi_sio");
  fs::create_directory_symlink(root / "drivers" / "ftdi_sio", usb / "1-1:1.0" / "driver");
  fs::create_directories(sys / "ttyUSB2");
  fs::create_directory_symlink(usb / "1-1:1.0", sys / "ttyUSB2" / "device");
  // ttyUSB10 sits two folders below its USB device, as the usb-serial drivers lay it out.
  const fs::path prolific = root / "usb2" / "2-1", port = prolific / "2-1:1.0" / "ttyUSB10";
  write(prolific / "idVendor", "067b");
  write(prolific / "idProduct", "2303");
  write(prolific / "manufacturer", "Prolific Technology Inc.");
  fs::create_directories(port);
  fs::create_directories(root / "drivers" / "pl2303");
  fs::create_directory_symlink(root / "drivers" / "pl2303", port / "driver");
  fs::create_directories(sys / "ttyUSB10");
  fs::create_directory_symlink(port, sys / "ttyUSB10" / "device");
  write(sys / "ttyS0" / "type", "4");  // a 16550A
  write(sys / "ttyS1" / "type", "0");  // nothing behind it
  write(sys / "ttyS2" / "type", "0");
  fs::create_directories(byId);
  fs::create_symlink(dev / "ttyUSB2", byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  fs::create_symlink(root / "gone", byId / "usb-gone");
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  grantpt(master);
  unlockpt(master);
  const std::string slave = ptsname(master);
  fs::create_symlink(slave, byId / "pseudo");

  const std::vector<SerialDevice> devices = listSerialDevices({{byId.string()}, dev.string(), sys.string()});
  std::vector<std::string> rows;
  for (const SerialDevice& d : devices) {
    rows.push_back(fs::path(d.path).filename().string() + " > " + d.target + " | " + d.vendor + " | " + d.product +
                   " | " + d.serial + " | " + d.driver);
  }
  const std::string ftdi = " | FTDI | FT232R USB UART | A50285BI | ftdi_sio";
  const std::vector<std::string> expected = {
      "pseudo > " + slave + " |  |  |  | pseudo-terminal",
      "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 > " + (dev / "ttyUSB2").string() + ftdi,
      "usb-gone > (no device) |  |  |  | ",
      "ttyUSB2 > " + ftdi,
      "ttyUSB10 >  | Prolific Technology Inc. | 2303 |  | pl2303",
      "ttyACM0 >  |  |  |  | ",
      "ttyS0 >  |  |  |  | ",
  };
  EXPECT_EQ(rows, expected);

  // A node with a stable name is mapped by that name; a link by itself.
  ASSERT_EQ(devices.size(), expected.size());
  EXPECT_EQ(preferredName(devices[3], devices), devices[1].path);
  EXPECT_EQ(preferredName(devices[4], devices), devices[4].path);
  EXPECT_EQ(preferredName(devices[1], devices), devices[1].path);
  EXPECT_TRUE(sameDevice(devices[1].path, devices[3].path));
  EXPECT_FALSE(sameDevice(devices[3].path, devices[4].path));
  fs::remove_all(root);
  close(master);
}

}  // namespace
}  // namespace kelvor
