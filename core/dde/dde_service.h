#pragma once
// The program side of the DDE server: the request, advise and execute handlers, the execute
// commands, and the timer duties the main window's tick runs around its serial poll.
//
// Plain C++ over the records it is given. The window-side effects go through CommandHost,
// the line through SerialLibrary, time through a monotonic clock (so a wait across midnight
// still ends on time). The server may be absent (ENABLESERVERDDE 0, or the bus name was
// taken): writes then reach nobody, and everything else behaves the same.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/settings/configuration.h"
#include "core/dde/command_host.h"
#include "core/dde/dde_commands.h"
#include "core/dde/dde_server.h"
#include "core/line/reception.h"
#include "core/line/serial_library.h"
#include "core/toolkit/notices.h"

namespace kelvor::dde {

// The item whose hot link sends every delivered reading once, in order, never merged with an
// equal one (AutoData is looked at once a second and sends only changes). Requested, it
// answers as ManualData does.
inline constexpr std::string_view kReadingsItem = "Readings";

// How long a lamp stays lit after the event it marks, so that a screen can show it.
inline constexpr std::int64_t kLampShownMs = 150;

// Milliseconds from a monotonic clock.
using MonotonicClock = std::function<std::int64_t()>;
MonotonicClock steadyClock();

// What a pending [WAITRS] keeps between ticks (the strip shows `elapsed`).
struct WaitRecord {
  std::int32_t waitStart = 0;  // hundredths of a second, when [WAITRS] began to wait
  std::int32_t elapsed = 0;    // hundredths of a second the pending request has waited
};

// The records the handlers and commands read and change: the settings ([LOAD( replaces
// them and the file they came from), the reception fields (the value, the wait state, the
// buffers [CLEARBUF] empties) and the wait.
struct ServiceRecords {
  Configuration& config;
  std::string& configFilePath;
  Reception& reception;
  WaitRecord& wait;
};

class DdeService : public DdeEvents {
 public:
  // `notices`: where a command that cannot do what it was asked says so.
  DdeService(ServiceRecords records, CommandHost& host, SerialLibrary& library, Notices& notices,
             MonotonicClock clock);

  void setServer(DdeServer* server) { server_ = server; }
  // What the desk does to take up the bytes the port holds as readings: a send clears the
  // port first, and what the instrument sent before the command is a reading, not litter.
  void setTakeUpReceived(std::function<void()> takeUp) { takeUpReceived_ = std::move(takeUp); }
  DdeServer* server() const { return server_; }

  // DdeEvents: the handlers of the main window's DDE events.
  void requestPending() override;
  void adviseWithoutLink(const std::string& item) override;
  // An execute string's commands run in order, each as if sent alone; the client is answered
  // before the first one waits. A sequence whose texts would not all fit the sending bound
  // runs nothing and is not taken.
  bool execute(const std::string& command, const std::function<void()>& acknowledge) override;
  void readingsDropped(const std::string& client, const std::string& item) override;

  // A reading was delivered: it goes to the Readings links, and a pending [WAITRS] gets its
  // answer at the next step.
  void readingDelivered();

  // Runs one matched command; `acknowledge` answers the client before the command waits.
  // False when a send was refused because as much text waits to be sent as is kept.
  bool runCommand(const MatchedCommand& command, const std::function<void()>& acknowledge = {});

  // Text of [SEND_W( goes on the line one character a tick (20 ms) while everything else goes
  // on; a [SEND( given meanwhile waits its turn, so the line gets the commands in order. The
  // desk calls this every tick, also while a modal window holds the rest of the tick.
  void sendStep();
  // Characters waiting to be sent.
  std::size_t charactersToSend() const { return charactersToSend_; }
  // Whether the tick has work here: text to send, a [WAITRS] pending, the orange lamp to put
  // out.
  bool needsTick() const { return !sending_.empty() || orangeLit_ || state_.reception.waitState != 0; }

  // The tick steps around the poll: before it, put the orange lamp out once it has been
  // seen, time out a [WAITRS] after more than 500 hundredths and answer a due request;
  // after it, answer a request the poll made due.
  void tickBeforePoll();
  void tickAfterPoll();
  // The whole of it, for callers that prefer one call: before, poll(), after.
  void tick(const std::function<void()>& poll);

  // The clock in hundredths of a second, as waitStart holds it.
  std::int32_t hundredths() const;

 private:
  void answerDueRequest();
  bool roomToSend(const std::vector<MatchedCommand>& commands) const;
  void writeManualData();
  void waitCommand(const std::string& argument);
  bool sendCommand(const std::string& argument, bool oneByOne);
  void startSending();
  void finishSending();
  void loadCommand(const std::string& argument);
  BoundValue requestValue();

  ServiceRecords state_;
  CommandHost& host_;
  SerialLibrary& library_;
  Notices& notices_;
  MonotonicClock clock_;
  DdeServer* server_ = nullptr;
  bool orangeLit_ = false;  // since a text went to the instrument, until orangeOffMs_
  std::int64_t orangeOffMs_ = 0;
  std::function<void()> takeUpReceived_;
  struct Sending {
    std::string text;
    bool oneByOne = false;
    std::size_t next = 0;  // characters already on the line
  };
  std::deque<Sending> sending_;  // the first one is on its way
  std::size_t charactersToSend_ = 0;
};

}  // namespace kelvor::dde
