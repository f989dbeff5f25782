#pragma once
// MQTT publishing over the Mosquitto client library (libmosquitto), on a thread of its own.
//
// What it promises:
// - publish() writes the reading to the queue on disk (platform/reading_queue.h) and wakes the
//   thread; it never waits for the network, so the 20 ms tick is never held up.
// - The thread sends queued readings in order, at most a small window of them unacknowledged
//   at a time, so a broker that stops reading costs no memory: the readings wait on disk.
//   At QoS 1 a reading leaves the queue only when the broker has acknowledged it; after a lost
//   connection the unacknowledged ones are sent again (so a reading may arrive twice, never
//   not at all, up to the queue's bound).
// - A connection that fails is retried with growing pauses (1 s doubling up to 30 s, with a
//   little randomness so that many benches do not call at once). Each kind of failure
//   (an address that does not resolve, a refused connection, a refused password, a TLS
//   certificate that does not match) is told once until a connection succeeds again.
// - The password never appears in a notice.
//
// Notices come from the publishing thread (and from the tick for the disk queue), so the
// Notices given must accept calls from any thread.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/outputs/reading_publisher.h"
#include "core/outputs/reading_queue.h"
#include "core/toolkit/notices.h"
#include "mqtt/publisher_thread.h"

namespace kelvor {

class MosquittoPublisher : public ReadingPublisher {
 public:
  explicit MosquittoPublisher(Notices& notices);
  // Says "offline", disconnects and ends the thread (waiting at most about a second for the
  // broker).
  ~MosquittoPublisher() override;

  void configure(const PublisherSettings& settings) override;
  void publish(const Reading& reading, std::string_view topicPrefix) override;
  PublisherState state() const override { return {connected(), waiting()}; }

  // For tests and the benchmark: readings queued and not yet delivered, and whether the
  // thread holds a connection accepted by the broker.
  std::uint64_t waiting() const;
  bool connected() const { return connected_; }

 private:
  class Session;
  void run();
  void wake();

  Notices& notices_;
  mutable std::mutex mutex_;
  PublisherSettings settings_;
  std::uint64_t generation_ = 0;
  bool stop_ = false;
  std::shared_ptr<ReadingQueue> queue_;
  std::string queueFolder_;
  bool queueFailing_ = false;  // tick side: the disk refused an entry
  bool dropping_ = false;      // tick side: the bound is being passed
  std::atomic<bool> connected_{false};
  SocketWait wait_;
  std::thread thread_;
};

}  // namespace kelvor
