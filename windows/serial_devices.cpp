#include "windows/serial_devices.h"

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "windows/text_convert.h"

namespace kelvor {
namespace {

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

// The number of "COMn", 0 for any other name.
int comNumber(std::string_view name) {
  if (name.size() < 4 || upper(name.substr(0, 3)) != "COM") return 0;
  int number = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9' || number > 9999) return 0;
    number = number * 10 + (c - '0');
  }
  return number;
}

// The names in a list of zero-terminated texts ending with an empty one.
std::vector<std::string> multiString(const wchar_t* text) {
  std::vector<std::string> names;
  for (const wchar_t* name = text; *name; name += wcslen(name) + 1) names.push_back(fromWide(name));
  return names;
}

std::vector<std::string> dosDeviceNames() {
  std::vector<wchar_t> names(65536);
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size())) != 0) return multiString(names.data());
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    names.resize(names.size() * 4);
  }
  return {};
}

std::string dosDeviceTarget(const std::string& name) {
  wchar_t target[1024] = {};
  if (QueryDosDeviceW(toWide(name).c_str(), target, 1024) == 0) return {};
  return fromWide(target);
}

// SERIALCOMM: one value a port, its data the COM name.
std::vector<std::string> registeredPorts() {
  std::vector<std::string> names;
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t value[256], data[256];
    DWORD valueSize = 256, dataSize = sizeof data, type = 0;
    const LONG status = RegEnumValueW(key, index, value, &valueSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                      &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    data[std::min<DWORD>(dataSize / sizeof(wchar_t), 255)] = L'\0';
    names.push_back(fromWide(data));
  }
  RegCloseKey(key);
  return names;
}

std::string property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD which) {
  wchar_t text[1024] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, which, &type, reinterpret_cast<BYTE*>(text),
                                         sizeof text - sizeof(wchar_t), nullptr)) {
    return {};
  }
  return fromWide(text);  // a multi-text's first entry
}

// What the device manager knows of each port of the Ports class, by COM name.
std::map<std::string, SerialDevice> describedPorts() {
  std::map<std::string, SerialDevice> described;
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return described;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t portName[64] = {};
    DWORD size = sizeof portName - sizeof(wchar_t), type = 0;
    const bool named = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName), &size) ==
                           ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    if (!named || comNumber(fromWide(portName)) == 0) continue;
    wchar_t instance[512] = {};
    SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr);
    const UsbIds ids = usbIdsOf(property(set, device, SPDRP_HARDWAREID), fromWide(instance));
    SerialDevice& port = described[upper(fromWide(portName))];
    port.vendor = ids.vendor.empty() ? property(set, device, SPDRP_MFG) : ids.vendor;
    port.product = property(set, device, SPDRP_FRIENDLYNAME);
    if (port.product.empty()) port.product = ids.product;
    port.serial = ids.serial;
    port.driver = property(set, device, SPDRP_SERVICE);
  }
  SetupDiDestroyDeviceInfoList(set);
  return described;
}

}  // namespace

std::vector<std::string> comNamesOf(const std::vector<std::string>& names) {
  std::map<int, std::string> ports;
  for (const std::string& name : names) {
    if (const int number = comNumber(name)) ports.emplace(number, "COM" + std::to_string(number));
  }
  std::vector<std::string> sorted;
  for (auto& [number, name] : ports) sorted.push_back(std::move(name));
  return sorted;
}

UsbIds usbIdsOf(std::string_view hardwareId, std::string_view instanceId) {
  UsbIds ids;
  const std::string id = upper(hardwareId);
  if (id.rfind("USB\\", 0) != 0 && id.rfind("FTDIBUS\\", 0) != 0) return ids;
  const auto field = [&id](std::string_view name) {
    const auto at = id.find(name);
    if (at == std::string::npos) return std::string();
    const auto start = at + name.size();
    return id.substr(start, std::min(id.find_first_of("&\\+", start), id.size()) - start);
  };
  ids.vendor = field("VID_");
  ids.product = field("PID_");
  // The instance id's last part is the serial number only where the device has one: Windows
  // makes up one with "&" in it for a device without.
  const auto slash = instanceId.find_last_of('\\');
  if (slash != std::string_view::npos && instanceId.find('&', slash) == std::string_view::npos) {
    ids.serial = std::string(instanceId.substr(slash + 1));
  }
  return ids;
}

std::vector<SerialDevice> listSerialDevices() {
  std::vector<std::string> names = dosDeviceNames();
  for (std::string& name : registeredPorts()) names.push_back(std::move(name));
  std::map<std::string, SerialDevice> described = describedPorts();
  for (const auto& [name, port] : described) names.push_back(name);
  std::vector<SerialDevice> devices;
  for (const std::string& name : comNamesOf(names)) {
    SerialDevice device;
    if (auto it = described.find(name); it != described.end()) device = it->second;
    device.path = name;
    device.target = dosDeviceTarget(name);
    devices.push_back(std::move(device));
  }
  return devices;
}

bool samePort(std::string_view a, std::string_view b) {
  const auto bare = [](std::string_view name) {
    std::string text = upper(name);
    if (text.rfind("\\\\.\\", 0) == 0) text.erase(0, 4);
    return text;
  };
  return bare(a) == bare(b);
}

}  // namespace kelvor
