#include "windows/device_watch.h"

#include <windows.h>

#include "windows/dde_message.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

std::wstring target(const std::string& name) {
  wchar_t buffer[1024];
  const DWORD n = QueryDosDeviceW(toWide(name).c_str(), buffer, 1024);
  return n ? std::wstring(buffer) : std::wstring();
}

}  // namespace

void Win32DeviceWatch::watch(const std::string& device) {
  name_ = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
  seen_ = target(name_);
  watching_ = true;
}

bool Win32DeviceWatch::changed() {
  if (!watching_) return false;
  std::wstring now = target(name_);
  if (now == seen_) return false;
  seen_ = std::move(now);
  return true;
}

void Win32DeviceWatch::stop() {
  watching_ = false;
  seen_.clear();
}

}  // namespace kelvor
