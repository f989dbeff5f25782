#include "mqtt/mosquitto_publisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "core/outputs/reading_format.h"

namespace kelvor {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Readings handed to the library and not yet acknowledged: enough to keep a local broker
// busy, few enough that a broker which stops reading holds up only these in memory.
constexpr std::size_t kWindow = 20;
constexpr int kKeepAliveSeconds = 30;
constexpr milliseconds kFirstPause{1000};
constexpr milliseconds kLongestPause{30000};
constexpr milliseconds kAnswerLimit{10000};

std::once_flag libraryReady;

std::string brokerName(const PublisherSettings& s) { return s.host + ":" + std::to_string(s.port); }

std::string refusalText(int code) {
  switch (code) {
    case 1: return "the broker does not accept MQTT 3.1.1";
    case 2: return "the broker refused the client id";
    case 3: return "the broker is unavailable";
    case 4: return "the broker refused the user name or password";
    case 5: return "the broker refused the user name or password (not authorised)";
    default: return "the broker refused the connection (code " + std::to_string(code) + ")";
  }
}

}  // namespace

// One set of settings and the connections made with them: all of it runs on the publishing
// thread. Each connection attempt uses a fresh client, so what an earlier connection left
// unacknowledged is sent again from the disk queue, never from a second copy in memory.
class MosquittoPublisher::Session {
 public:
  Session(const PublisherSettings& settings, std::shared_ptr<ReadingQueue> queue, Notices& notices,
          std::atomic<bool>& connectedFlag)
      : s_(settings), queue_(std::move(queue)), notices_(notices), connectedFlag_(connectedFlag),
        random_(static_cast<unsigned>(Clock::now().time_since_epoch().count())) {
    deliveredTo_ = cursor_ = queue_->head();
    if (mosquitto_pub_topic_check((s_.topicPrefix + "/status").c_str()) != MOSQ_ERR_SUCCESS) {
      failed("the topic prefix \"" + s_.topicPrefix + "\" cannot be published to (it is empty or holds + or #)");
      unusable_ = true;
    }
  }
  ~Session() { destroyClient(); }

  void step(SocketWait& wait);
  void leave();

 private:
  void connectIfDue();
  bool newClient();
  void destroyClient();
  void failed(const std::string& cause);
  void retryLater();
  void feed();
  void advance();
  int publishRaw(const std::string& topic, std::string_view payload, bool retain, std::uint64_t seq);
  std::string describe(int rc, int error) const;

  static void onConnect(mosquitto*, void* self, int rc) { static_cast<Session*>(self)->connected(rc); }
  static void onDisconnect(mosquitto*, void* self, int rc) { static_cast<Session*>(self)->disconnected(rc); }
  static void onPublish(mosquitto*, void* self, int mid) { static_cast<Session*>(self)->published(mid); }
  static void onLog(mosquitto*, void* self, int level, const char* text) {
    if (level == MOSQ_LOG_ERR && std::strstr(text, "OpenSSL Error") != nullptr) {
      static_cast<Session*>(self)->tlsDetail_ = text;
    }
  }
  void connected(int rc);
  void disconnected(int rc);
  void published(int mid);

  enum class Link { Idle, Connecting, Connected };

  PublisherSettings s_;
  std::shared_ptr<ReadingQueue> queue_;
  Notices& notices_;
  std::atomic<bool>& connectedFlag_;
  std::minstd_rand random_;
  mosquitto* client_ = nullptr;
  Link link_ = Link::Idle;
  bool unusable_ = false;
  bool sayOnline_ = false;  // connected: "online" still to be published
  Clock::time_point nextAttempt_ = Clock::now();
  Clock::time_point attemptStarted_;
  milliseconds pause_ = kFirstPause;
  std::set<std::string> told_;  // failures told since the last good connection
  std::string refusal_;         // why the broker refused the connection just answered
  std::string tlsDetail_;       // what the TLS library said about the last failure
  std::map<int, std::uint64_t> inflight_;  // message id -> sequence number (0: not a reading)
  std::set<std::uint64_t> acked_;          // acknowledged above deliveredTo_
  std::uint64_t cursor_ = 0;       // the next entry to hand to the library
  std::uint64_t deliveredTo_ = 0;  // every entry below it has reached the broker
  std::uint64_t droppedSent_ = 0;  // the dropped count given on this connection
};

void MosquittoPublisher::Session::step(SocketWait& wait) {
  connectIfDue();
  if (link_ == Link::Connected) feed();

  const int sock = link_ == Link::Idle ? -1 : mosquitto_socket(client_);
  auto timeout = milliseconds(1000);
  if (link_ == Link::Idle && !unusable_) {
    timeout = std::clamp(std::chrono::duration_cast<milliseconds>(nextAttempt_ - Clock::now()), milliseconds(0),
                         timeout);
  }
  const SocketWait::Ready ready = wait.wait(sock, sock >= 0 && mosquitto_want_write(client_), timeout);
  // The library closes the socket and reports through onDisconnect on any failure.
  if (ready.readable) mosquitto_loop_read(client_, 1);
  if (link_ != Link::Idle && ready.writable) mosquitto_loop_write(client_, 1);
  if (link_ != Link::Idle) mosquitto_loop_misc(client_);
  // A failed TLS handshake can close the connection without a word from the library.
  if (link_ != Link::Idle && mosquitto_socket(client_) < 0) {
    disconnected(tlsDetail_.empty() ? MOSQ_ERR_CONN_LOST : MOSQ_ERR_TLS);
  }
  if (link_ == Link::Connecting && Clock::now() - attemptStarted_ > kAnswerLimit) {
    failed(brokerName(s_) + " did not answer within 10 seconds");
    link_ = Link::Idle;
    retryLater();
  }
}

void MosquittoPublisher::Session::connectIfDue() {
  if (unusable_ || link_ != Link::Idle || Clock::now() < nextAttempt_) return;
  if (!newClient()) return retryLater();
  refusal_.clear();
  tlsDetail_.clear();
  errno = 0;
  const int rc = mosquitto_connect_async(client_, s_.host.c_str(), s_.port, kKeepAliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS) {
    failed(describe(rc, errno));
    return retryLater();
  }
  link_ = Link::Connecting;
  attemptStarted_ = Clock::now();
}

bool MosquittoPublisher::Session::newClient() {
  destroyClient();
  client_ = mosquitto_new(s_.clientId.empty() ? nullptr : s_.clientId.c_str(), true, this);
  if (client_ == nullptr) {
    failed("the MQTT client cannot be made (client id \"" + s_.clientId + "\")");
    return false;
  }
  mosquitto_connect_callback_set(client_, onConnect);
  mosquitto_disconnect_callback_set(client_, onDisconnect);
  mosquitto_publish_callback_set(client_, onPublish);
  mosquitto_log_callback_set(client_, onLog);
  const std::string status = s_.topicPrefix + "/status";
  mosquitto_will_set(client_, status.c_str(), 7, "offline", 1, true);
  if (!s_.user.empty() || !s_.password.empty()) {
    mosquitto_username_pw_set(client_, s_.user.empty() ? nullptr : s_.user.c_str(),
                              s_.password.empty() ? nullptr : s_.password.c_str());
  }
  if (!s_.caFile.empty()) {
    const int result = mosquitto_tls_set(client_, s_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (result != MOSQ_ERR_SUCCESS) {
      // Never fall back to a connection in the clear that the settings did not ask for.
      failed(result == MOSQ_ERR_NOT_SUPPORTED
                 ? "this build of Kelvor publishes without TLS, so it makes no connection with the CA file " + s_.caFile
                 : "the CA file " + s_.caFile + " cannot be read");
      destroyClient();
      return false;
    }
  }
  return true;
}

void MosquittoPublisher::Session::destroyClient() {
  if (client_ != nullptr) mosquitto_destroy(client_);
  client_ = nullptr;
  link_ = Link::Idle;
  connectedFlag_ = false;
  // What the old client held unacknowledged goes out again from the disk queue.
  inflight_.clear();
  cursor_ = deliveredTo_;
}

void MosquittoPublisher::Session::failed(const std::string& cause) {
  if (!told_.insert(cause).second) return;
  notices_.mention({NoticeKind::Warning, "MQTT publishing",
                    "Readings cannot be published to " + brokerName(s_) + ": " + cause +
                        ". They wait in the queue and are sent once the connection works; Kelvor keeps trying."});
}

void MosquittoPublisher::Session::retryLater() {
  std::uniform_int_distribution<long> jitter(0, pause_.count() / 4);
  nextAttempt_ = Clock::now() + pause_ + milliseconds(jitter(random_));
  pause_ = std::min(pause_ * 2, kLongestPause);
}

std::string MosquittoPublisher::Session::describe(int rc, int error) const {
  switch (rc) {
    case MOSQ_ERR_EAI:
      return "the broker's address \"" + s_.host + "\" does not resolve";
    case MOSQ_ERR_ERRNO:
      if (error == ECONNREFUSED) return brokerName(s_) + " refused the connection (no broker listening there?)";
      return std::strerror(error);
    case MOSQ_ERR_TLS:
      return "the TLS connection failed" + (tlsDetail_.empty() ? std::string() : " (" + tlsDetail_ + ")") +
             "; check that the CA file signed the broker's certificate and that the certificate names \"" +
             s_.host + "\"";
    case MOSQ_ERR_CONN_LOST:
      return "the connection was lost";
    case MOSQ_ERR_KEEPALIVE:
      return "the broker stopped answering";
    case MOSQ_ERR_INVAL:
      return "the broker's address or port is not valid";
    default:
      return mosquitto_strerror(rc);
  }
}

void MosquittoPublisher::Session::connected(int rc) {
  if (rc != 0) {
    refusal_ = refusalText(rc);
    return;  // the library closes the connection and reports it through onDisconnect
  }
  link_ = Link::Connected;
  connectedFlag_ = true;
  pause_ = kFirstPause;
  if (!told_.empty()) {
    notices_.note({NoticeKind::Information, "MQTT publishing", "Connected to " + brokerName(s_) + " again."});
  }
  told_.clear();
  droppedSent_ = 0;  // the count (when there is one) is given again on each connection
  // Published from feed(), outside the library's callback, which holds the library's locks.
  sayOnline_ = true;
}

void MosquittoPublisher::Session::disconnected(int rc) {
  const int error = errno;
  const bool wasConnected = link_ == Link::Connected;
  link_ = Link::Idle;
  connectedFlag_ = false;
  inflight_.clear();
  cursor_ = deliveredTo_;
  if (rc == 0 && refusal_.empty()) return;  // our own disconnect
  const std::string cause = refusal_.empty() ? describe(rc, error) : refusal_;
  if (wasConnected) {
    notices_.note({NoticeKind::Warning, "MQTT publishing",
                   "The connection to " + brokerName(s_) + " ended: " + cause + ". Readings wait in the queue."});
  } else {
    failed(cause);
  }
  retryLater();
}

void MosquittoPublisher::Session::published(int mid) {
  const auto at = inflight_.find(mid);
  if (at == inflight_.end()) return;
  const std::uint64_t seq = at->second;
  inflight_.erase(at);
  if (seq != 0) {
    acked_.insert(seq);
    advance();
  }
}

void MosquittoPublisher::Session::advance() {
  const std::uint64_t head = queue_->head();  // readings dropped meanwhile count as done
  if (deliveredTo_ < head) deliveredTo_ = head;
  while (!acked_.empty() && *acked_.begin() <= deliveredTo_) {
    if (*acked_.begin() == deliveredTo_) ++deliveredTo_;
    acked_.erase(acked_.begin());
  }
  queue_->delivered(deliveredTo_);
}

int MosquittoPublisher::Session::publishRaw(const std::string& topic, std::string_view payload, bool retain,
                                            std::uint64_t seq) {
  int mid = 0;
  const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                   s_.qos, retain);
  if (rc == MOSQ_ERR_SUCCESS) inflight_[mid] = seq;
  return rc;
}

void MosquittoPublisher::Session::feed() {
  if (sayOnline_ && publishRaw(s_.topicPrefix + "/status", "online", true, 0) == MOSQ_ERR_SUCCESS) sayOnline_ = false;
  while (link_ == Link::Connected && inflight_.size() < kWindow) {
    if (acked_.count(cursor_) != 0) {
      ++cursor_;
      continue;
    }
    ReadingQueue::Entry entry;
    const auto result = queue_->read(cursor_, entry);
    if (result == ReadingQueue::ReadResult::NotYet) break;
    if (result == ReadingQueue::ReadResult::Gone) {
      const std::uint64_t head = queue_->head();
      if (cursor_ >= head) acked_.insert(cursor_);  // lost on disk: nothing to wait for
      cursor_ = std::max(cursor_ + 1, head);
      advance();
      continue;
    }
    const int rc = publishRaw(entry.topicPrefix + "/reading", entry.payload, false, entry.seq);
    if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NOMEM) break;
    ++cursor_;
    if (rc != MOSQ_ERR_SUCCESS) {
      failed("reading " + std::to_string(entry.seq) + " cannot be published on \"" + entry.topicPrefix +
             "/reading\" (" + mosquitto_strerror(rc) + ")");
      acked_.insert(entry.seq);
      advance();
      continue;
    }
    if (entry.seq + 1 == queue_->nextSeq()) publishRaw(entry.topicPrefix + "/last", entry.payload, true, 0);
  }
  const std::uint64_t dropped = queue_->dropped();
  if (link_ == Link::Connected && dropped != droppedSent_ && inflight_.size() < kWindow) {
    const std::string payload = "{\"dropped\":" + std::to_string(dropped) + ",\"time\":\"" +
                                utcTimeText(std::chrono::system_clock::now()) + "\"}";
    if (publishRaw(s_.topicPrefix + "/dropped", payload, true, 0) == MOSQ_ERR_SUCCESS) droppedSent_ = dropped;
  }
}

void MosquittoPublisher::Session::leave() {
  if (link_ == Link::Connected) {
    publishRaw(s_.topicPrefix + "/status", "offline", true, 0);
    mosquitto_disconnect(client_);
    const auto until = Clock::now() + milliseconds(1000);
    SocketWait wait;  // its own: the publisher's may hold the wake that ends the thread
    while (Clock::now() < until && mosquitto_socket(client_) >= 0) {
      const SocketWait::Ready ready =
          wait.wait(mosquitto_socket(client_), mosquitto_want_write(client_), milliseconds(50));
      if (ready.writable) mosquitto_loop_write(client_, 1);
      if (ready.readable) mosquitto_loop_read(client_, 1);
    }
  }
  destroyClient();
}

MosquittoPublisher::MosquittoPublisher(Notices& notices) : notices_(notices) {
  std::call_once(libraryReady, [] { mosquitto_lib_init(); });
  thread_ = std::thread([this] { run(); });
}

MosquittoPublisher::~MosquittoPublisher() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake();
  thread_.join();
}

void MosquittoPublisher::wake() { wait_.wake(); }

void MosquittoPublisher::configure(const PublisherSettings& settings) {
  std::shared_ptr<ReadingQueue> queue;
  {
    std::lock_guard lock(mutex_);
    if (settings == settings_ && generation_ != 0) return;
    queue = queue_;
  }
  if (settings.enabled && (!queue || settings.queueFolder != queueFolder_)) {
    queue = std::make_shared<ReadingQueue>();
    std::string error;
    if (!queue->open(settings.queueFolder, error)) {
      notices_.mention({NoticeKind::Warning, "MQTT publishing",
                        "The queue of readings for the broker cannot be opened: " + error +
                            ". Readings are not published until it can."});
      queue.reset();
    }
  }
  if (queue) queue->setBound(settings.queueBound);
  {
    std::lock_guard lock(mutex_);
    settings_ = settings;
    if (settings.enabled) {
      queue_ = queue;
      queueFolder_ = queue ? settings.queueFolder : std::string();
    }
    ++generation_;
  }
  wake();
}

void MosquittoPublisher::publish(const Reading& reading, std::string_view topicPrefix) {
  std::shared_ptr<ReadingQueue> queue;
  std::uint64_t bound = 0;
  {
    std::lock_guard lock(mutex_);
    if (!settings_.enabled) return;
    queue = queue_;
    bound = settings_.queueBound;
  }
  if (!queue) return;
  const std::uint64_t droppedBefore = queue->dropped();
  std::string error;
  if (!queue->append(topicPrefix, readingJson(reading, queue->nextSeq()), error)) {
    if (!queueFailing_) {
      notices_.mention({NoticeKind::Warning, "MQTT publishing",
                        "A reading cannot be queued for the broker: " + error +
                            ". It is not published; the queue takes readings again once the disk accepts them."});
    }
    queueFailing_ = true;
    return;
  }
  queueFailing_ = false;
  const std::uint64_t dropped = queue->dropped();
  if (dropped != droppedBefore && !dropping_) {
    notices_.mention({NoticeKind::Warning, "MQTT publishing",
                      "The queue for the broker is full (" + std::to_string(queue->nextSeq() - queue->head()) +
                          " readings): the oldest readings are being dropped. The count of dropped readings is "
                          "published on \"" + std::string(topicPrefix) + "/dropped\"."});
  }
  // One notice for each time the queue overflows: it is armed again once the queue has
  // drained to half its bound.
  if (dropped != droppedBefore) dropping_ = true;
  else if (dropping_ && (queue->nextSeq() - queue->head()) * 2 < bound) dropping_ = false;
  wake();
}

std::uint64_t MosquittoPublisher::waiting() const {
  std::shared_ptr<ReadingQueue> queue;
  {
    std::lock_guard lock(mutex_);
    queue = queue_;
  }
  return queue ? queue->nextSeq() - queue->head() : 0;
}

void MosquittoPublisher::run() {
  lowerThisThreadsPriority();
  std::unique_ptr<Session> session;
  std::uint64_t seen = 0;
  while (true) {
    PublisherSettings settings;
    std::shared_ptr<ReadingQueue> queue;
    bool changed = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_) break;
      if (generation_ != seen) {
        seen = generation_;
        settings = settings_;
        queue = queue_;
        changed = true;
      }
    }
    if (changed) {
      if (session) session->leave();
      session.reset();
      if (settings.enabled && queue) session = std::make_unique<Session>(settings, queue, notices_, connected_);
    }
    if (session) {
      session->step(wait_);
    } else {
      wait_.wait(-1, false, milliseconds(1000));
    }
  }
  if (session) session->leave();
}

}  // namespace kelvor
