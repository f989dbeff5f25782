#pragma once
// The device window: the serial devices present, what the system knows of each, and the
// COM number each is mapped to; the user picks a device and a COM number, and the window
// writes that [PORTS] key of KELVOR.INI (the stable /dev/serial/by-id name where the device
// has one), leaving every other line of the file as it was. Texts come from section
// "devices" of the language file. Modal, like the configuration window.

#include <QDialog>
#include <string>
#include <vector>

#include "core/i18n/translate.h"
#include "linux/serial_devices.h"

class QComboBox;
class QLabel;
class QTreeWidget;

namespace kelvor {

// The COM numbers KELVOR.INI maps to `device` ("COM1, COM3"), empty when none.
std::string mappedPorts(const std::string& iniFilePath, const std::string& device);

class DeviceWindow : public QDialog {
  Q_OBJECT

 public:
  DeviceWindow(Language& language, std::string iniFilePath, DeviceFolders folders, QWidget* parent = nullptr);

  // Lists the devices present again.
  void refresh();
  // Maps the selected device to COM(port + 1). Returns false when no device is selected
  // or KELVOR.INI could not be written (the window says which).
  bool mapSelected(int port);

 private:
  QString text(const char* key) const;

  Language& language_;
  std::string iniFilePath_;
  DeviceFolders folders_;
  std::vector<SerialDevice> devices_;
  QTreeWidget* list_ = nullptr;
  QComboBox* port_ = nullptr;
  QLabel* status_ = nullptr;
};

// Opens the window over `parent` and returns when the user has closed it. The devices are
// looked for in the system's folders and in [DEVICES] FOLDER of KELVOR.INI.
void openDeviceWindow(Language& language, const std::string& iniFilePath, QWidget* parent);

}  // namespace kelvor
