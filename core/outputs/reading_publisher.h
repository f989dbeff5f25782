#pragma once
// Publishing readings to an MQTT broker, as the outputs see it. The implementation
// (platform/mosquitto_publisher.h) talks to the broker on a thread of its own; what the tick
// calls returns at once whatever the network does.
//
// Topics under the prefix: "<prefix>/reading" (each reading, in order), "<prefix>/last" (the
// newest reading, retained), "<prefix>/status" ("online", retained; "offline" when Kelvor
// leaves, and as the last will when it vanishes) and "<prefix>/dropped" (how many queued
// readings were dropped because the queue was full, retained).

#include <cstdint>
#include <string>
#include <string_view>

#include "core/outputs/reading.h"

namespace kelvor {

struct PublisherSettings {
  bool enabled = false;
  std::string host;
  int port = 1883;
  std::string clientId;
  std::string topicPrefix;  // for status, dropped and the last will
  std::string user;
  std::string password;
  std::string caFile;       // empty: no TLS
  int qos = 1;
  std::uint64_t queueBound = 10000;
  std::string queueFolder;  // where the queue lives on disk

  friend bool operator==(const PublisherSettings&, const PublisherSettings&) = default;
};

// What the outputs window shows of publishing: whether the broker has accepted the
// connection, and how many readings wait in the queue for it.
struct PublisherState {
  bool connected = false;
  std::uint64_t waiting = 0;
};

// That state in a sentence; `enabled`: publishing is switched on.
std::string publisherStateText(bool enabled, const PublisherState& state);

class ReadingPublisher {
 public:
  virtual ~ReadingPublisher() = default;
  // Safe to call from the user-interface thread while the publisher works.
  virtual PublisherState state() const { return {}; }
  // Takes new settings: connects, reconnects with them or stops. Returns at once.
  virtual void configure(const PublisherSettings& settings) = 0;
  // Queues the reading for "<topicPrefix>/reading" with the next sequence number; it is sent
  // once the broker is reachable. Returns at once.
  virtual void publish(const Reading& reading, std::string_view topicPrefix) = 0;
};

}  // namespace kelvor
