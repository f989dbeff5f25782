#pragma once
// One reading as it leaves the desk: what reception delivered, when, and from where. The
// reading log and MQTT publishing both start from this record, taken once at the moment the
// reading becomes the DDE value, so both outputs carry the same time.

#include <chrono>
#include <string>

namespace kelvor {

struct Reading {
  std::chrono::system_clock::time_point time;
  std::string configurationName;  // NAME of the configuration, without its padding
  int port = 0;                   // PORT: 0 is COM1
  std::string value;              // the delivered value (currentFrame without its padding)
  std::string frame;              // the frame as it was cut from the line
};

}  // namespace kelvor
