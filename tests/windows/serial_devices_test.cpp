#include "windows/serial_devices.h"

#include <gtest/gtest.h>

namespace kelvor {
namespace {

TEST(SerialDevices, ComNamesAreKeptOnceInNumberOrder) {
  EXPECT_EQ(comNamesOf({"LPT1", "com10", "COM2", "COM2", "Global", "COM", "COMX", "COM1", "NUL", "COM9"}),
            (std::vector<std::string>{"COM1", "COM2", "COM9", "COM10"}));
}

TEST(SerialDevices, UsbIdsComeFromTheHardwareAndInstanceIds) {
  struct Case {
    const char* hardware;
    const char* instance;
    UsbIds ids;
  } cases[] = {
      {"USB\\VID_0403&PID_6001&REV_0600", "USB\\VID_0403&PID_6001\\A12345", {"0403", "6001", "A12345"}},
      {"usb\\vid_067b&pid_2303", "USB\\VID_067B&PID_2303\\5&2F3C1A&0&2", {"067B", "2303", ""}},
      {"ACPI\\PNP0501", "ACPI\\PNP0501\\1", {"", "", ""}},
      {"", "", {"", "", ""}},
  };
  for (const Case& c : cases) {
    const UsbIds ids = usbIdsOf(c.hardware, c.instance);
    EXPECT_EQ(ids.vendor, c.ids.vendor) << c.hardware;
    EXPECT_EQ(ids.product, c.ids.product) << c.hardware;
    EXPECT_EQ(ids.serial, c.ids.serial) << c.hardware;
  }
}

TEST(SerialDevices, PortNamesCompareWithoutPrefixOrCase) {
  EXPECT_TRUE(samePort("COM5", "\\\\.\\com5"));
  EXPECT_TRUE(samePort("com12", "COM12"));
  EXPECT_FALSE(samePort("COM1", "COM10"));
  EXPECT_FALSE(samePort("\\\\.\\COM1", "COM2"));
}

}  // namespace
}  // namespace kelvor
