#pragma once
// The device watch over inotify: the folder that holds a device (/dev, /dev/serial/by-id,
// the folder of a simulator's link) is watched for the device's own name appearing,
// vanishing, being renamed or changing its permissions. One descriptor while watching,
// none otherwise.

#include <string>

#include "core/line/port_watch.h"

namespace kelvor {

class InotifyDeviceWatch : public DeviceWatch {
 public:
  InotifyDeviceWatch() = default;
  ~InotifyDeviceWatch() override;
  InotifyDeviceWatch(const InotifyDeviceWatch&) = delete;
  InotifyDeviceWatch& operator=(const InotifyDeviceWatch&) = delete;

  void watch(const std::string& device) override;
  bool changed() override;
  void stop() override;

  // Whether the folder is watched now (false: the retries alone find the device).
  bool isWatching() const { return watchId_ >= 0; }

 private:
  int fd_ = -1;
  int watchId_ = -1;
  std::string folder_;
  std::string name_;
};

}  // namespace kelvor
