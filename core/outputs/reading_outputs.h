#pragma once
// The desk's outputs together: the reading log and MQTT publishing, fed with each reading at
// the moment reception delivers it (when it becomes the DDE value). Holds the settings in
// force; new settings take effect at once, without a restart.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "core/outputs/output_settings.h"
#include "core/outputs/reading_log.h"
#include "core/outputs/reading_publisher.h"
#include "core/toolkit/notices.h"

namespace kelvor {

// Where the outputs live: the desk's names and folders, fixed at start-up.
struct OutputsPlace {
  std::string workingFolder;  // where KELVOR.INI lies
  std::string hostName;
  std::string serviceName;  // the DDE service the desk serves as
};

class ReadingOutputs {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  ReadingOutputs(Notices& notices, ReadingPublisher& publisher, OutputsPlace place,
                 Clock clock = [] { return std::chrono::system_clock::now(); });

  // Puts settings in force. The configuration's name is part of the default topic prefix.
  void apply(const OutputSettings& settings, std::string_view configurationName);
  const OutputSettings& settings() const { return settings_; }

  // One delivered reading: its configuration's name, COM port (0 is COM1), delivered value
  // and the frame as it was cut, all as bytes from the records (trailing blanks removed).
  void deliver(std::string_view configurationName, int port, std::string_view value, std::string_view frame);

  // The queue folder of the MQTT publisher.
  std::string queueFolder() const { return place_.workingFolder + "/mqtt-queue"; }

 private:
  PublisherSettings publisherSettings(std::string_view configurationName) const;

  Notices& notices_;
  ReadingPublisher& publisher_;
  OutputsPlace place_;
  Clock clock_;
  OutputSettings settings_;
  ReadingLog log_;
  std::string prefix_;  // the topic prefix the publisher was last given
};

}  // namespace kelvor
