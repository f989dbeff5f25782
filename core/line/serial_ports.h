#pragma once
// Which device stands behind a COM number: the one place that reads [PORTS] of KELVOR.INI,
// for the serial library that opens the device and the windows that name it.

#include <string>

namespace kelvor {

// "COM1" for port 0.
std::string comName(int port);

// The device behind a 0-based port number: key COMn of section [PORTS] in the file at
// `iniFilePath`, or the system's own name for COM1 ... COM8 when the key is missing or blank
// (defaultSerialDevice); empty when no device can be named (a higher or negative number
// without a key).
std::string comDevice(const std::string& iniFilePath, int port);

// Where the user sets the device of a port, for the messages of a port that cannot be opened:
// the "Serial devices" window of the menu, which writes the key of [PORTS] for them.
std::string whereToSetDevice(int port);

}  // namespace kelvor
