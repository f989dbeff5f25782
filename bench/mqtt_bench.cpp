// MQTT publishing under load, with a real Mosquitto broker on a loopback port and the DDE
// server over a real session bus (run it under tests/linux/headless.sh):
// - BacklogDrain: a server that queued 100,000 readings while its broker was away sends them
//   when the broker comes back; readings per second acknowledged at QoS 1 and received by a
//   subscriber, while the [WAITRS] answer delay is measured at the same time (median, 99th
//   percentile), beside the same delay measured just before with the broker away, to show
//   the 20 ms tick does not wait for the network. The broker and the subscriber stand in for
//   the floor's server: on this 2-core machine they run at a lower priority, as they would
//   run on another machine.
// - LastByteToSubscriber: from a reading's last byte written to the line to its arrival at a
//   subscriber of "<prefix>/reading"; median and 99th percentile in milliseconds.
//
// The server runs in a child process started from this same program with --serve, as the
// program itself runs it: the receive pipeline and the DDE server on the 20 ms tick, the
// outputs fed by the poll, the publisher on its own thread.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/desk/kelvor_state.h"
#include "bench/bench_server.h"
#include "core/dde/dde_server.h"
#include "core/outputs/reading_outputs.h"
#include "linux/dde_transport.h"
#include "mqtt/mosquitto_publisher.h"
#include "linux/serial_port.h"
#include "core/line/receive_pipeline.h"
#include "tests/linux/outputs/mosquitto_broker.h"

namespace {

using namespace kelvor;
using Clock = std::chrono::steady_clock;

const QString kBusName = QStringLiteral("dde.KelvorMqttBench");
constexpr int kBacklog = 100000;

int serve(int argc, char** argv, const std::string& folder, int brokerPort) {
  QCoreApplication app(argc, argv);
  KelvorState state;
  state.iniFilePath = folder + "/KELVOR.INI";
  state.config.NAME = "BENCH";
  bench::StderrNotices notices;
  TermiosSerialLibrary library(state.iniFilePath, notices);
  if (!bench::startReception(state, library)) return 1;

  // Publishing at QoS 1 to a broker that is not there yet: the backlog queues on disk.
  MosquittoPublisher publisher(notices);
  ReadingOutputs outputs(notices, publisher, OutputsPlace{folder, "bench", "Kelvor"});
  OutputSettings settings;
  settings.mqtt.ENABLE = 1;
  settings.mqtt.HOST = "127.0.0.1";
  settings.mqtt.PORT = brokerPort;
  settings.mqtt.TOPIC = "bench";
  settings.mqtt.QUEUE = 2 * kBacklog;
  outputs.apply(settings, "BENCH");
  for (int i = 0; i < kBacklog; ++i) outputs.deliver("BENCH", 0, "12.34", "12.34");
  // The poll's hand-over to the outputs, as the desk makes it.
  PollHooks hooks;
  hooks.deliver = [&outputs, &state](const Text<2550>& frame, const Text<2550>& value) {
    outputs.deliver(state.config.NAME.trimmed(), state.config.PORT, value.trimmed(), frame.trimmed());
  };

  return bench::serveOnTick(app, state, library, "KelvorMqttBench", hooks);
}

// --- The client side.

int master = -1;
pid_t serverPid = -1;
std::filesystem::path folder;
std::unique_ptr<testing::Broker> broker;
std::unique_ptr<testing::Subscriber> subscriber;

// What reached the subscriber: the arrival of each sequence number, and a signal per message.
std::mutex arrivedMutex;
std::condition_variable arrivedSignal;
std::map<long long, Clock::time_point> arrived;

void record(const testing::Subscriber::Message& m) {
  const auto at = m.payload.find("\"seq\":");
  if (at == std::string::npos) return;
  std::lock_guard lock(arrivedMutex);
  arrived.emplace(std::stoll(m.payload.substr(at + 6)), m.arrived);
  arrivedSignal.notify_all();
}

void writeFrame(const char* frame) {
  const std::size_t n = std::strlen(frame);
  if (::write(master, frame, n) != static_cast<ssize_t>(n)) std::perror("write");
}

QDBusMessage call(QDBusConnection& bus, const QString& method, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(kBusName, "/", "dde.Server", method);
  m.setArguments(args);
  return bus.call(m, QDBus::Block, 10000);
}

double percentile(std::vector<double> values, int p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, values.size() * static_cast<std::size_t>(p) / 100)];
}


bool backlogArrived() {
  std::lock_guard lock(arrivedMutex);
  return arrived.size() >= static_cast<std::size_t>(kBacklog) && arrived.count(kBacklog) != 0;
}

void BacklogDrain(benchmark::State& state) {
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "bench-waitrs");
  const uint conversation = call(bus, "Initiate", {QString("Kelvor"), QString("System")}).arguments().value(0).toUInt();
  std::mt19937 random(2026);
  std::vector<double> away;
  std::vector<double> draining;
  for (auto _ : state) {
    // The same probes with the backlog waiting and the broker away.
    for (int i = 0; i < 150; ++i) away.push_back(bench::waitRsDelay(bus, kBusName, conversation, random, master));
    if (!broker->start(10)) state.SkipWithError("the broker did not start");
    const auto started = Clock::now();
    while (!backlogArrived()) {
      if (Clock::now() - started > std::chrono::seconds(120)) {
        state.SkipWithError("the backlog did not arrive within two minutes");
        break;
      }
      // Counted only once the publisher is sending.
      const bool sending = [] {
        std::lock_guard lock(arrivedMutex);
        return !arrived.empty();
      }();
      const double ms = bench::waitRsDelay(bus, kBusName, conversation, random, master);
      if (sending && !backlogArrived()) draining.push_back(ms);
    }
    std::lock_guard lock(arrivedMutex);
    const double seconds = std::chrono::duration<double>(arrived.at(kBacklog) - arrived.begin()->second).count();
    state.SetIterationTime(seconds);
    state.counters["readings_per_s"] = kBacklog / seconds;
  }
  call(bus, "Terminate", {conversation});
  state.counters["waitrs_probes"] = static_cast<double>(draining.size());
  state.counters["waitrs_median_ms"] = percentile(draining, 50);
  state.counters["waitrs_p99_ms"] = percentile(draining, 99);
  state.counters["waitrs_max_ms"] = percentile(draining, 100);
  state.counters["away_median_ms"] = percentile(away, 50);
  state.counters["away_p99_ms"] = percentile(away, 99);
  state.counters["away_max_ms"] = percentile(away, 100);
}
BENCHMARK(BacklogDrain)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void LastByteToSubscriber(benchmark::State& state) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> phaseUs(0, 20000);
  std::vector<double> delays;
  for (auto _ : state) {
    std::unique_lock lock(arrivedMutex);
    const std::size_t before = arrived.size();
    lock.unlock();
    // The instrument speaks at any moment of the 20 ms tick.
    std::this_thread::sleep_for(std::chrono::microseconds(phaseUs(random)));
    writeFrame("12.34\r");
    const auto lastByte = Clock::now();
    lock.lock();
    if (!arrivedSignal.wait_for(lock, std::chrono::seconds(5), [&] { return arrived.size() > before; })) {
      state.SkipWithError("a reading did not arrive within five seconds");
      break;
    }
    const double ms = std::chrono::duration<double, std::milli>(arrived.rbegin()->second - lastByte).count();
    state.SetIterationTime(ms / 1000);
    delays.push_back(ms);
  }
  state.counters["median_ms"] = percentile(delays, 50);
  state.counters["p99_ms"] = percentile(delays, 99);
  state.counters["max_ms"] = percentile(delays, 100);
}
BENCHMARK(LastByteToSubscriber)->Iterations(500)->UseManualTime()->Unit(benchmark::kMillisecond);

bool startServer(const char* self) {
  master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  const std::string slave = ::ptsname(master);
  folder = std::filesystem::temp_directory_path() / ("kelvor_mqtt_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "KELVOR.INI") << "[PORTS]\nCOM1=" << slave << "\n";
  // A persistent session for the subscriber, made while the broker runs: the broker keeps
  // what arrives for it from then on, whenever the subscriber itself gets back.
  broker = std::make_unique<testing::Broker>(folder / "broker");
  if (!broker->start()) return false;
  subscriber = std::make_unique<testing::Subscriber>(broker->port(), std::vector<std::string>{"bench/reading"},
                                                     "bench-collector", false);
  subscriber->onMessage = [](const testing::Subscriber::Message& m) {
    // The collector runs behind the program measured, like the broker (see above).
    static thread_local bool behind = (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10), true);
    (void)behind;
    record(m);
  };
  if (!subscriber->waitSubscribed()) return false;
  broker->stop();
  serverPid = ::fork();
  if (serverPid == 0) {
    ::execl("/proc/self/exe", self, "--serve", folder.c_str(), std::to_string(broker->port()).c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  for (int i = 0; i < 600; ++i) {
    if (bus && bus->isServiceRegistered(kBusName)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--serve") return serve(argc, argv, argv[2], std::atoi(argv[3]));

  QCoreApplication app(argc, argv);
  if (!QDBusConnection::sessionBus().isConnected()) {
    std::fprintf(stderr, "mqtt_bench needs a D-Bus session bus: run it under tests/linux/headless.sh or dbus-run-session\n");
    return 1;
  }
  if (!startServer(argv[0])) {
    std::fprintf(stderr, "mqtt_bench: the server did not start\n");
    if (serverPid > 0) ::kill(serverPid, SIGTERM);
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  subscriber.reset();
  ::kill(serverPid, SIGTERM);
  ::waitpid(serverPid, nullptr, 0);
  broker.reset();
  std::filesystem::remove_all(folder);
  return 0;
}
