#pragma once
// The program side of the DDE server: the request, advise and execute handlers, the execute
// commands, and the timer duties the main window's tick runs around its serial poll.
//
// Plain C++ over the process-wide state. The window-side effects go through CommandHost,
// the line through SerialLibrary, time through a monotonic clock (so a wait across midnight
// still ends on time). The server may be absent (ENABLESERVERDDE 0, or the bus name was
// taken): writes then reach nobody, and everything else behaves the same.

#include <cstdint>
#include <functional>
#include <string>

#include "app/kelvor_state.h"
#include "dde/command_host.h"
#include "dde/dde_commands.h"
#include "dde/dde_server.h"
#include "serial/serial_library.h"

namespace kelvor::dde {

// Milliseconds from a monotonic clock.
using MonotonicClock = std::function<std::int64_t()>;
MonotonicClock steadyClock();

class DdeService : public DdeEvents {
 public:
  DdeService(KelvorState& state, CommandHost& host, SerialLibrary& library, MonotonicClock clock);

  void setServer(DdeServer* server) { server_ = server; }
  DdeServer* server() const { return server_; }

  // DdeEvents: the handlers of the main window's DDE events.
  void requestPending() override;
  void adviseWithoutLink() override;
  void execute(const std::string& command) override;

  // Runs one matched command.
  void runCommand(const MatchedCommand& command);

  // The tick steps around the poll: before it, time out a [WAITRS] after more than 500
  // hundredths and answer a due request; after it, answer a request the poll made due.
  void tickBeforePoll();
  void tickAfterPoll();
  // The whole of it, for callers that prefer one call: before, poll(), after.
  void tick(const std::function<void()>& poll);

  // The clock in hundredths of a second, as waitStart holds it.
  std::int32_t hundredths() const;

 private:
  void answerDueRequest();
  void writeManualData();
  void waitCommand(const std::string& argument);
  void sendCommand(const std::string& argument, bool oneByOne);
  void loadCommand(const std::string& argument);
  BoundValue requestValue();

  KelvorState& state_;
  CommandHost& host_;
  SerialLibrary& library_;
  MonotonicClock clock_;
  DdeServer* server_ = nullptr;
};

}  // namespace kelvor::dde
