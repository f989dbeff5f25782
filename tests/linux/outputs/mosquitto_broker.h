#pragma once
// A real Mosquitto broker for tests and benchmarks: started on a free loopback port with its
// own folder (persistence on, so sessions and queued messages survive a restart), stopped
// and started again on the same port, and a small subscriber that records what arrives.

#include <mosquitto.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvor::testing {

inline int freeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(s);
  return ntohs(a.sin_port);
}

inline bool accepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

class Broker {
 public:
  // With a user and password, only that user may connect; `listenerOptions` go with the
  // listener (its TLS certificate, say).
  explicit Broker(const std::filesystem::path& folder, const std::string& user = {}, const std::string& password = {},
                  const std::string& listenerOptions = {})
      : folder_(folder), port_(freeLoopbackPort()) {
    std::filesystem::create_directories(folder);
    std::ofstream conf(folder / "mosquitto.conf");
    // Started as root, Mosquitto would change to its own user, which cannot write this folder.
    const passwd* me = ::getpwuid(::getuid());
    conf << "listener " << port_ << " 127.0.0.1\n" << listenerOptions << "persistence true\npersistence_location " << folder.string()
         << "/\nlog_dest none\nmax_queued_messages 100000\nuser " << (me ? me->pw_name : "root") << "\n";
    if (user.empty()) {
      conf << "allow_anonymous true\n";
    } else {
      const std::string passwd = (folder / "passwd").string();
      std::ofstream(passwd).close();
      const std::string command = "mosquitto_passwd -b '" + passwd + "' '" + user + "' '" + password + "'";
      if (std::system(command.c_str()) != 0) std::abort();
      conf << "allow_anonymous false\npassword_file " << passwd << "\n";
    }
  }
  ~Broker() { stop(); }

  int port() const { return port_; }

  // `niceness` above 0 lets a benchmark run the broker behind the program it measures, as a
  // broker on the floor's server would be.
  bool start(int niceness = 0) {
    pid_ = ::fork();
    if (pid_ == 0) {
      if (niceness > 0) (void)!::nice(niceness);
      // Not holding the test's output open: a reader of it would wait for the broker too.
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", (folder_ / "mosquitto.conf").c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 100; ++i) {
      if (accepts(port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // A broker that stops reading (SIGSTOP): connections stay open, nothing is answered.
  void pause() { ::kill(pid_, SIGSTOP); }
  void resume() { ::kill(pid_, SIGCONT); }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::filesystem::path folder_;
  int port_;
  pid_t pid_ = -1;
};

// Records every message on the topics it subscribes to, at QoS 1.
class Subscriber {
 public:
  struct Message {
    std::string topic;
    std::string payload;
    bool retained;
    std::chrono::steady_clock::time_point arrived;
  };

  Subscriber(int port, const std::vector<std::string>& topics, const char* id = nullptr, bool clean = true)
      : topics_(topics) {
    mosquitto_lib_init();
    client_ = mosquitto_new(id, clean, this);
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
      if (rc != 0) return;
      for (const auto& t : static_cast<Subscriber*>(self)->topics_) mosquitto_subscribe(m, nullptr, t.c_str(), 1);
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* s = static_cast<Subscriber*>(self);
      std::lock_guard lock(s->mutex_);
      s->messages_.push_back({m->topic, std::string(static_cast<const char*>(m->payload),
                                                   static_cast<std::size_t>(m->payloadlen)),
                              m->retain, std::chrono::steady_clock::now()});
      if (s->onMessage) s->onMessage(s->messages_.back());
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<Subscriber*>(self)->subscribed_ = true;
    });
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect_async(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
  }
  ~Subscriber() {
    // Disconnecting ends the library's thread; it is not cancelled in the middle of its work.
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }

  std::vector<Message> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::vector<Message> on(const std::string& topic) const {
    std::vector<Message> found;
    for (const auto& m : messages()) {
      if (m.topic == topic) found.push_back(m);
    }
    return found;
  }
  // Waits up to `seconds` until `done` holds for what arrived.
  bool waitFor(const std::function<bool(const Subscriber&)>& done, double seconds = 10) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
      if (done(*this)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done(*this);
  }

  // Waits until the broker has confirmed a subscription.
  bool waitSubscribed() const {
    return waitFor([](const Subscriber& s) { return s.subscribed_.load(); });
  }

  std::function<void(const Message&)> onMessage;  // called on the subscriber's thread

 private:
  std::vector<std::string> topics_;
  mosquitto* client_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  std::atomic<bool> subscribed_{false};
};

}  // namespace kelvor::testing
