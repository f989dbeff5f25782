#pragma once
// The device watch on Windows: a COM name's device is looked up in the system's device
// namespace (QueryDosDevice) at each question, and a change of what it names (the adapter
// plugged in again, re-enumerated, or gone) counts as a change of its folder. Nothing is
// held between questions.

#include <string>

#include "core/line/port_watch.h"

namespace kelvor {

class Win32DeviceWatch : public DeviceWatch {
 public:
  void watch(const std::string& device) override;
  bool changed() override;
  void stop() override;

 private:
  std::string name_;   // "COM3": the device name without "\\.\"
  std::wstring seen_;  // what it named at the last question; empty when nothing
  bool watching_ = false;
};

}  // namespace kelvor
