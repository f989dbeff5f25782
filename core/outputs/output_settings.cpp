#include "core/outputs/output_settings.h"
#include "core/outputs/reading_publisher.h"

#include <algorithm>

#include "core/system/files.h"
#include "core/system/system.h"
#include "core/settings/profile_file.h"
#include "core/toolkit/encoding.h"
#include "core/toolkit/text.h"

namespace kelvor {
namespace {

std::int32_t numberOr(const std::string& text, std::int32_t fallback, long long low, long long high) {
  if (trimRight(text).empty()) return fallback;
  const long long value = readNumber(text);
  return value < low || value > high ? fallback : static_cast<std::int32_t>(value);
}

// One level of a topic: no separators or wildcards of its own, UTF-8.
std::string topicLevel(std::string_view bytes) {
  std::string level = displayText(trimRight(bytes));
  std::replace_if(level.begin(), level.end(), [](char c) { return c == '/' || c == '+' || c == '#' || c == '\0'; },
                  '_');
  return level;
}

}  // namespace

OutputSettings readOutputSettings(const std::string& ini) {
  OutputSettings s;
  s.log.ENABLE = readNumber(readProfileString(ini, "LOG", "ENABLE")) == 1 ? 1 : 0;
  const std::string folder = readProfileString(ini, "LOG", "FOLDER");
  if (!folder.empty()) s.log.FOLDER = folder;

  MqttSettings& m = s.mqtt;
  m.ENABLE = readNumber(readProfileString(ini, "MQTT", "ENABLE")) == 1 ? 1 : 0;
  m.HOST = readProfileString(ini, "MQTT", "HOST");
  m.PORT = numberOr(readProfileString(ini, "MQTT", "PORT"), 1883, 1, 65535);
  m.CLIENTID = readProfileString(ini, "MQTT", "CLIENTID");
  m.TOPIC = readProfileString(ini, "MQTT", "TOPIC");
  m.USER = readProfileString(ini, "MQTT", "USER");
  m.PASSWORD = readProfileString(ini, "MQTT", "PASSWORD");
  m.CAFILE = readProfileString(ini, "MQTT", "CAFILE");
  m.QOS = numberOr(readProfileString(ini, "MQTT", "QOS"), 1, 0, 1);
  m.QUEUE = numberOr(readProfileString(ini, "MQTT", "QUEUE"), 10000, 1, 2147483647);
  return s;
}

bool writeOutputSettings(const std::string& ini, const OutputSettings& s, std::string& error) {
  // The password must never sit in a file others can read, not even for a moment.
  if (!s.mqtt.PASSWORD.empty() && !restrictToOwner(ini, error)) return false;
  const MqttSettings& m = s.mqtt;
  const std::pair<const char*, std::string> logKeys[] = {{"ENABLE", std::to_string(s.log.ENABLE)},
                                                         {"FOLDER", s.log.FOLDER}};
  const std::pair<const char*, std::string> mqttKeys[] = {
      {"ENABLE", std::to_string(m.ENABLE)}, {"HOST", m.HOST},         {"PORT", std::to_string(m.PORT)},
      {"CLIENTID", m.CLIENTID},             {"TOPIC", m.TOPIC},       {"USER", m.USER},
      {"PASSWORD", m.PASSWORD},             {"CAFILE", m.CAFILE},     {"QOS", std::to_string(m.QOS)},
      {"QUEUE", std::to_string(m.QUEUE)}};
  for (const auto& [key, value] : logKeys) {
    if (!writeProfileString(ini, "LOG", key, value)) {
      error = ini + " cannot be written";
      return false;
    }
  }
  for (const auto& [key, value] : mqttKeys) {
    if (!writeProfileString(ini, "MQTT", key, value)) {
      error = ini + " cannot be written";
      return false;
    }
  }
  return true;
}

std::string logFolder(const LogSettings& log, const std::string& workingFolder) {
  const std::string folder = trimRight(log.FOLDER).empty() ? std::string("readings") : log.FOLDER;
  return isAbsolutePath(folder) ? folder : workingFolder + "/" + folder;
}

std::string clientId(const MqttSettings& mqtt, std::string_view hostName, std::string_view serviceName,
                     std::string_view workingFolder) {
  if (!mqtt.CLIENTID.empty()) return mqtt.CLIENTID;
  return std::string(hostName) + ":" + std::string(serviceName) + ":" +
         std::string(workingFolder.empty() ? "/" : workingFolder);
}

std::string publisherStateText(bool enabled, const PublisherState& state) {
  const std::string waiting = state.waiting == 1 ? "1 reading waits" : std::to_string(state.waiting) + " readings wait";
  if (!enabled) return state.waiting == 0 ? "Publishing is off." : "Publishing is off; " + waiting + " in the queue.";
  return std::string(state.connected ? "Connected to the broker" : "Not connected to the broker") + "; " + waiting +
         " in the queue.";
}

std::string topicPrefix(const MqttSettings& mqtt, std::string_view hostName, std::string_view configurationName) {
  if (!mqtt.TOPIC.empty()) return displayText(mqtt.TOPIC);
  const std::string name = topicLevel(configurationName);
  return "kelvor/" + topicLevel(hostName) + (name.empty() ? std::string() : "/" + name);
}

}  // namespace kelvor
