// What the bus benchmarks share: the server side, as the program runs it but without windows
// (the receive pipeline and the DDE server on the 20 ms tick, in a child process of the
// benchmark), and the client's [WAITRS] probe.
#pragma once

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "core/desk/kelvor_state.h"
#include "core/dde/dde_server.h"
#include "core/dde/dde_service.h"
#include "linux/dde_transport.h"
#include "core/line/receive_pipeline.h"
#include "core/line/serial_library.h"
#include "core/toolkit/modal_gate.h"
#include "core/toolkit/notices.h"

namespace kelvor::bench {

// The server's window side: nothing to show in a benchmark.
struct NoWindow : dde::CommandHost {
  void runFromCommand() override {}
  void stopFromCommand() override {}
  void closePort() override {}
  void setZOrderMode(std::uint8_t) override {}
  void forceZOrder() override {}
  void closeMainWindow() override {}
  void refresh() override {}
  void setOrangeLamp(bool) override {}
  void setDdeStatusIcon(const std::string&) override {}
  void setWindowHeight(int) override {}
  void setProgress(double) override {}
  bool waitPass() override { return false; }
  void flushKeyboard() override {}
  void waitSeconds(double) override {}
  void showMessage(const std::string&) override {}
  void playSoundIfEnabled(const std::string&, std::uint8_t) override {}
  std::string currentDirectory() override { return "/"; }
};

// What the server would tell the user goes to stderr.
class StderrNotices : public Notices {
 public:
  void tell(const Notice& notice) override { note(notice); }
  void mention(const Notice& notice) override { note(notice); }
  void note(const Notice& notice) override { std::fprintf(stderr, "serve: %s\n", notice.text.c_str()); }
  void showBusy(std::string_view) override {}
  void closeBusy() override {}
};

// Opens COM1 at 9600 bits/s, 8N1, frames cut at CR, with the DDE server on and reception
// running. False when the line cannot be opened.
inline bool startReception(KelvorState& state, SerialLibrary& library) {
  Configuration& c = state.config;
  c.ENABLESERVERDDE = 1;
  c.BAUDRATE = 9600;
  c.DATABITS = 8;
  c.STOPBITS = 1;
  c.SELECTENDOF = 1;
  c.ENDOFCHAR = 1;
  if (library.SetPortEx(0, 1, 1000, 1000, 0, 0, 0) != 0 || library.InitPort(0, c.BAUDRATE, 0, 8, 1) != 0) return false;
  state.reception.isRunning = 1;
  return true;
}

// Serves DDE as dde.SERVICE and polls on the 20 ms tick, the DDE steps around the poll, until
// the process is ended.
inline int serveOnTick(QCoreApplication& app, KelvorState& state, SerialLibrary& library, const std::string& service,
                       const PollHooks& hooks = {}) {
  NoWindow window;
  StderrNotices notices;
  dde::DdeService handlers(state.serviceRecords(), window, library, notices, dde::steadyClock());
  DBusDdeTransport transport;
  dde::DdeServer server("Kelvor", "System", transport, handlers, dde::steadyClock());
  std::string error;
  if (!transport.start(service, server, error)) {
    std::fprintf(stderr, "serve: %s\n", error.c_str());
    return 1;
  }
  handlers.setServer(&server);

  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (!modalGate().isOpen()) return;
    handlers.tickBeforePoll();
    poll(state.config, state.reception, library, hooks);
    handlers.tickAfterPoll();
  });
  tick.start(20);
  return app.exec();
}

// One [WAITRS]-armed request on BUS-NAME, answered by a frame the instrument writes to `line`
// at a random moment of the tick (it speaks when it will, not in step with the answers): the
// delay from the frame's last byte to the answer, in milliseconds.
inline double waitRsDelay(QDBusConnection& bus, const QString& busName, uint conversation, std::mt19937& random,
                          int line) {
  std::uniform_int_distribution<int> phaseUs(3000, 23000);
  QDBusMessage arm = QDBusMessage::createMethodCall(busName, "/", "dde.Server", "Execute");
  arm.setArguments({conversation, QString("[WAITRS]")});
  bus.call(arm, QDBus::Block, 10000);
  QDBusMessage m = QDBusMessage::createMethodCall(busName, "/", "dde.Server", "Request");
  m.setArguments({conversation, QString("ManualData"), 1u});
  QDBusPendingCall pending = bus.asyncCall(m, 10000);
  // The request is armed and waiting when the instrument speaks.
  std::this_thread::sleep_for(std::chrono::microseconds(phaseUs(random)));
  constexpr char kFrame[] = "12.34\r";
  if (::write(line, kFrame, sizeof kFrame - 1) != static_cast<ssize_t>(sizeof kFrame - 1)) std::perror("write");
  const auto lastByte = std::chrono::steady_clock::now();
  pending.waitForFinished();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - lastByte).count();
}

}  // namespace kelvor::bench
