#include "core/outputs/reading_outputs.h"

namespace kelvor {

ReadingOutputs::ReadingOutputs(Notices& notices, ReadingPublisher& publisher, OutputsPlace place, Clock clock)
    : notices_(notices), publisher_(publisher), place_(std::move(place)), clock_(std::move(clock)), log_(notices) {}

PublisherSettings ReadingOutputs::publisherSettings(std::string_view configurationName) const {
  const MqttSettings& m = settings_.mqtt;
  PublisherSettings p;
  p.enabled = m.ENABLE == 1 && !m.HOST.empty();
  p.host = m.HOST;
  p.port = m.PORT;
  p.clientId = clientId(m, place_.hostName, place_.serviceName, place_.workingFolder);
  p.topicPrefix = topicPrefix(m, place_.hostName, configurationName);
  p.user = m.USER;
  p.password = m.PASSWORD;
  p.caFile = m.CAFILE;
  p.qos = m.QOS;
  p.queueBound = static_cast<std::uint64_t>(m.QUEUE);
  p.queueFolder = queueFolder();
  return p;
}

void ReadingOutputs::apply(const OutputSettings& settings, std::string_view configurationName) {
  settings_ = settings;
  log_.setFolder(settings.log.ENABLE == 1 ? logFolder(settings.log, place_.workingFolder) : std::string());
  const PublisherSettings p = publisherSettings(configurationName);
  if (settings.mqtt.ENABLE == 1 && settings.mqtt.HOST.empty()) {
    notices_.mention({NoticeKind::Warning, "MQTT publishing",
                      "Publishing is switched on but no broker is named: readings are not published."});
  }
  prefix_ = p.topicPrefix;
  publisher_.configure(p);
}

void ReadingOutputs::deliver(std::string_view configurationName, int port, std::string_view value,
                             std::string_view frame) {
  if (settings_.log.ENABLE != 1 && settings_.mqtt.ENABLE != 1) return;
  const Reading reading{clock_(), std::string(configurationName), port, std::string(value), std::string(frame)};
  log_.write(reading);
  if (settings_.mqtt.ENABLE != 1) return;
  // A configuration loaded under another name moves the default topic; status and the last
  // will follow it, so the publisher takes the new prefix as new settings.
  const PublisherSettings p = publisherSettings(configurationName);
  if (p.topicPrefix != prefix_) {
    prefix_ = p.topicPrefix;
    publisher_.configure(p);
  }
  publisher_.publish(reading, prefix_);
}

}  // namespace kelvor
