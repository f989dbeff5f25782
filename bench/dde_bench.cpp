// The DDE server under load, over a real session bus (run it under tests/linux/headless.sh or
// dbus-run-session):
// - RequestRoundTrip: ManualData requests answered per second, from 1, 4 and 8 clients at
//   once, while reception runs (a frame every 20 ms on a pseudo-terminal, polled by the
//   real receive pipeline and termios library every 20 ms).
// - WaitRsAnswerDelay: the time from a frame's last byte written to the line to the answer
//   of a request armed with [WAITRS]; median and 99th percentile in milliseconds. /1 runs
//   it while another client floods the server with bad input, to show the 20 ms tick holds.
// - RequestWithPending: ManualData round trips while the same client keeps 10 or 20,000
//   other requests pending (for an item nobody answers); the program prints the ratio of
//   the two, which stays near 1 when a pending request costs the same however many wait.
//
// The server runs in a child process started from this same program with --serve, as the
// program itself would run it: the protocol layer, the handlers, the D-Bus transport and
// the 20 ms tick with the poll between the DDE steps.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/desk/kelvor_state.h"
#include "bench/bench_server.h"
#include "core/dde/dde_server.h"
#include "linux/dde_transport.h"
#include "linux/serial_port.h"
#include "core/line/receive_pipeline.h"

namespace {

using namespace kelvor;
using Clock = std::chrono::steady_clock;

const QString kBusName = QStringLiteral("dde.KelvorBench");

int serve(int argc, char** argv, const std::string& iniPath) {
  QCoreApplication app(argc, argv);
  KelvorState state;
  state.iniFilePath = iniPath;
  bench::StderrNotices notices;
  TermiosSerialLibrary library(iniPath, notices);
  if (!bench::startReception(state, library)) return 1;
  return bench::serveOnTick(app, state, library, "KelvorBench");
}

// --- The client side.

int master = -1;
pid_t serverPid = -1;
std::atomic<bool> feeding{false};
std::atomic<bool> stopFeeder{false};

void writeFrame(const char* frame) {
  const std::size_t n = std::strlen(frame);
  if (::write(master, frame, n) != static_cast<ssize_t>(n)) std::perror("write");
}

// The instrument: a frame every 20 ms while `feeding` is set.
void feeder() {
  char frame[32];
  int n = 0;
  while (!stopFeeder) {
    if (feeding) {
      std::snprintf(frame, sizeof frame, "%d.%02d\r", 10 + n % 10, n % 100);
      writeFrame(frame);
      ++n;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Drains what the server might write to the line, so the pseudo-terminal never fills.
void drainer() {
  char buffer[256];
  while (!stopFeeder) {
    if (::read(master, buffer, sizeof buffer) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

QDBusMessage call(QDBusConnection& bus, const QString& method, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(kBusName, "/", "dde.Server", method);
  m.setArguments(args);
  return bus.call(m, QDBus::Block, 10000);
}

uint initiate(QDBusConnection& bus) {
  return call(bus, "Initiate", {QString("Kelvor"), QString("System")}).arguments().value(0).toUInt();
}

void RequestRoundTrip(benchmark::State& state) {
  feeding = true;
  const QString name = QStringLiteral("bench-client-%1").arg(state.thread_index());
  {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    const uint conversation = initiate(bus);
    for (auto _ : state) {
      const QDBusMessage reply = call(bus, "Request", {conversation, QString("ManualData"), 1u});
      if (reply.type() != QDBusMessage::ReplyMessage) {
        state.SkipWithError(reply.errorMessage().toStdString().c_str());
        break;
      }
    }
    call(bus, "Terminate", {conversation});
  }
  QDBusConnection::disconnectFromBus(name);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(RequestRoundTrip)->Threads(1)->Threads(4)->Threads(8)->UseRealTime()->MinTime(2.0);

// The resident memory of the server process, in KiB.
long serverKiB() {
  std::ifstream status("/proc/" + std::to_string(serverPid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// The processor time the server's threads have used, in microseconds: the scheduler's own
// count, exact to the nanosecond (/proc/PID/stat counts in 10 ms ticks).
double serverCpuUs() {
  double ns = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(serverPid) + "/task")) {
    std::ifstream schedstat(task.path() / "schedstat");
    double onCpu = 0;
    if (schedstat >> onCpu) ns += onCpu;
  }
  return ns / 1000;
}

double microsecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void RequestWithPending(benchmark::State& state) {
  // No frames: the server's processor time is then nearly all spent on the requests.
  feeding = false;
  const auto pending = static_cast<int>(state.range(0));
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "bench-pending");
  const uint conversation = initiate(bus);
  const long before = serverKiB();
  std::vector<QDBusPendingCall> parked;
  for (int i = 0; i < pending; ++i) {
    QDBusMessage m = QDBusMessage::createMethodCall(kBusName, "/", "dde.Server", "Request");
    m.setArguments({conversation, QString("Pending"), 1u});
    parked.push_back(bus.asyncCall(m, 600000));
  }
  // Calls are handled in the order sent: once this is answered, every request is pending.
  call(bus, "Poke", {conversation, QString("AnyItem"), 1u, QByteArray("x")});
  // The first run shows what the pending requests take; later runs reuse the memory it freed.
  static std::map<int, double> growth;
  if (!growth.count(pending)) growth[pending] = static_cast<double>(serverKiB() - before) / pending;
  state.counters["server_KiB_per_pending"] = growth[pending];
  // What the server uses meanwhile without any request (its 20 ms tick), left out of the cost
  // of a request below: the bus daemon makes the round trips slower with many pending, so
  // fewer requests share the same second of ticks.
  const double idleBefore = serverCpuUs();
  const auto idleStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double idleShare = (serverCpuUs() - idleBefore) / microsecondsSince(idleStart);
  state.counters["server_idle_percent"] = idleShare * 100;
  const double cpuBefore = serverCpuUs();
  const auto start = Clock::now();
  for (auto _ : state) {
    const QDBusMessage reply = call(bus, "Request", {conversation, QString("ManualData"), 1u});
    if (reply.type() != QDBusMessage::ReplyMessage) {
      state.SkipWithError(reply.errorMessage().toStdString().c_str());
      break;
    }
  }
  const double requestsCpu = serverCpuUs() - cpuBefore - idleShare * microsecondsSince(start);
  state.counters["server_cpu_us"] = requestsCpu / static_cast<double>(state.iterations());
  call(bus, "Terminate", {conversation});
  for (auto& p : parked) p.waitForFinished();
  QDBusConnection::disconnectFromBus("bench-pending");
}
BENCHMARK(RequestWithPending)->Arg(10)->Arg(20000)->UseRealTime()->MinTime(2.0)->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration, to print the ratio of RequestWithPending's two runs.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.run_name.function_name == "RequestWithPending") {
        perIteration[run.run_name.args] = run.GetAdjustedRealTime();
        serverCpu[run.run_name.args] = run.counters.at("server_cpu_us");
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> perIteration;
  std::map<std::string, double> serverCpu;
};

// Bad input arriving all the time: megabyte commands and pokes from a client of its own.
void flooder(std::atomic<bool>& stop) {
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "bench-flood");
  const uint conversation = initiate(bus);
  const QString command = QStringLiteral("[SEND(") + QString(1 << 20, u'x') + QStringLiteral(")]x");
  const QByteArray block(1 << 20, 'p');
  while (!stop) {
    call(bus, "Execute", {conversation, QStringLiteral("[NOTHING") + command});
    call(bus, "Poke", {conversation, QString("AnyItem"), 1u, block});
    call(bus, "Request", {conversation + 1000000u, QString("ManualData"), 0xFFFFu});
  }
  call(bus, "Terminate", {conversation});
}

void WaitRsAnswerDelay(benchmark::State& state) {
  feeding = false;
  std::atomic<bool> stopFlood{false};
  std::thread flood;
  if (state.range(0) == 1) flood = std::thread(flooder, std::ref(stopFlood));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "bench-waitrs");
  const uint conversation = initiate(bus);
  std::vector<double> delays;
  // The instrument speaks at any moment of the 20 ms tick, not in step with the answers.
  std::mt19937 random(2026);
  for (auto _ : state) {
    const double ms = bench::waitRsDelay(bus, kBusName, conversation, random, master);
    state.SetIterationTime(ms / 1000);
    delays.push_back(ms);
  }
  call(bus, "Terminate", {conversation});
  stopFlood = true;
  if (flood.joinable()) flood.join();
  std::sort(delays.begin(), delays.end());
  if (!delays.empty()) {
    state.counters["median_ms"] = delays[delays.size() / 2];
    state.counters["p99_ms"] = delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
    state.counters["max_ms"] = delays.back();
  }
}
// Argument 1: while another client floods the server with megabyte commands and pokes.
BENCHMARK(WaitRsAnswerDelay)->Arg(0)->Arg(1)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

bool startServer(const char* self) {
  master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  // Never blocks, so that the drainer ends with the run.
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  const std::string slave = ::ptsname(master);
  char dir[] = "/tmp/kelvor_dde_bench_XXXXXX";
  if (!::mkdtemp(dir)) return false;
  const std::string ini = std::string(dir) + "/KELVOR.INI";
  std::ofstream(ini) << "[PORTS]\nCOM1=" << slave << "\n";
  serverPid = ::fork();
  if (serverPid == 0) {
    ::execl("/proc/self/exe", self, "--serve", ini.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  for (int i = 0; i < 100; ++i) {
    if (bus && bus->isServiceRegistered(kBusName)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--serve") return serve(argc, argv, argv[2]);

  QCoreApplication app(argc, argv);
  if (!QDBusConnection::sessionBus().isConnected()) {
    std::fprintf(stderr, "dde_bench needs a D-Bus session bus: run it under tests/linux/headless.sh or dbus-run-session\n");
    return 1;
  }
  if (!startServer(argv[0])) {
    std::fprintf(stderr, "dde_bench: the server did not start\n");
    if (serverPid > 0) ::kill(serverPid, SIGTERM);
    return 1;
  }
  std::thread feed(feeder), drain(drainer);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.perIteration["10"] > 0 && reporter.perIteration["20000"] > 0) {
    std::printf("RequestWithPending, 20,000 pending against 10: the server's processor time per request "
                "%.2f times, the round trip %.2f times (the bus daemon's share)\n",
                reporter.serverCpu["20000"] / reporter.serverCpu["10"],
                reporter.perIteration["20000"] / reporter.perIteration["10"]);
  }
  stopFeeder = true;
  feed.join();
  drain.join();
  ::kill(serverPid, SIGTERM);
  ::waitpid(serverPid, nullptr, 0);
  return 0;
}
