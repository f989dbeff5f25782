#pragma once
// The device window on Windows: the COM ports present, what the system knows of each, and
// the COM number of Kelvor each is mapped to; the user picks a port and a COM number, and
// the window writes that [PORTS] key of KELVOR.INI, leaving every other line of the file as
// it was. Texts come from section "devices" of the language file. Modal, like the
// configuration window.

#include <string>

#include "core/i18n/translate.h"

namespace kelvor {

// The COM numbers of Kelvor that KELVOR.INI maps to `device` ("COM1, COM3"), empty when none.
std::string mappedPorts(const std::string& iniFilePath, const std::string& device);

// Opens the window over the strip and returns when the user has closed it.
void openDeviceWindow(Language& language, const std::string& iniFilePath);

}  // namespace kelvor
