#pragma once
// The settings of the desk's two outputs, the reading log and MQTT publishing. They belong to
// the desk rather than to an instrument's configuration, so they live in KELVOR.INI, sections
// [LOG] and [MQTT]. A missing key means its default, and both outputs are off by default.
// Empty CLIENTID and TOPIC mean the defaults built from the host name, the working folder and
// the configuration's name, so that they follow the desk without being written down.

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvor {

struct LogSettings {
  std::uint8_t ENABLE = 0;
  std::string FOLDER = "readings";  // relative to the working folder unless absolute

  friend bool operator==(const LogSettings&, const LogSettings&) = default;
};

struct MqttSettings {
  std::uint8_t ENABLE = 0;
  std::string HOST;
  std::int32_t PORT = 1883;
  std::string CLIENTID;  // empty: "<host name>:<working folder>"
  std::string TOPIC;     // empty: "kelvor/<host name>/<configuration name>"
  std::string USER;
  std::string PASSWORD;
  std::string CAFILE;    // empty: no TLS
  std::int32_t QOS = 1;  // 0 or 1
  std::int32_t QUEUE = 10000;

  friend bool operator==(const MqttSettings&, const MqttSettings&) = default;
};

struct OutputSettings {
  LogSettings log;
  MqttSettings mqtt;

  friend bool operator==(const OutputSettings&, const OutputSettings&) = default;
};

// Reads [LOG] and [MQTT] of KELVOR.INI. Numbers out of range take their default (a port
// outside 1..65535, a QoS other than 0 or 1, a queue bound below 1).
OutputSettings readOutputSettings(const std::string& iniFilePath);

// Writes every key of [LOG] and [MQTT], keeping the rest of the file. Once a password is
// saved the file is made readable by its owner only, before the password reaches it.
// Returns false with the cause in `error` when the file could not be written.
bool writeOutputSettings(const std::string& iniFilePath, const OutputSettings& settings, std::string& error);

// The folder the log writes into: FOLDER resolved against the working folder.
std::string logFolder(const LogSettings& log, const std::string& workingFolder);

// The client id the broker knows this desk by: CLIENTID, or <host>:<DDE service>:<working
// folder>, so that two desks, on one machine or on two, never throw each other out.
std::string clientId(const MqttSettings& mqtt, std::string_view hostName, std::string_view serviceName,
                     std::string_view workingFolder);

// The topic prefix: TOPIC, or kelvor/<host name>/<configuration name>. The host and
// configuration names are made fit for a topic level ("/", "+", "#" become "_"; Windows-1252
// bytes become UTF-8); a configuration without a name gives "kelvor/<host name>".
std::string topicPrefix(const MqttSettings& mqtt, std::string_view hostName, std::string_view configurationName);

}  // namespace kelvor
