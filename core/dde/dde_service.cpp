#include "core/dde/dde_service.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "core/settings/configuration.h"
#include "core/toolkit/modal_gate.h"
#include "core/toolkit/text.h"

#include "core/settings/profile_file.h"
#include "core/system/files.h"

namespace kelvor::dde {
namespace {

// The longest [WAIT( in hundredths of a second.
constexpr double kLongestWait = 1e12;

constexpr int kNormalHeight = 26;
constexpr int kWaitHeight = 38;  // reveals the progress bar
constexpr std::int32_t kWaitRsTimeout = 500;  // hundredths of a second
// Text waiting to go on the line, one character every 20 ms: about 80 seconds of sending,
// thirty-two of the longest commands. A client asking for more is told Busy.
constexpr std::size_t kMostCharactersToSend = 4096;

}  // namespace

MonotonicClock steadyClock() {
  return [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
}

DdeService::DdeService(ServiceRecords state, CommandHost& host, SerialLibrary& library, Notices& notices,
                       MonotonicClock clock)
    : state_(state), host_(host), library_(library), notices_(notices), clock_(std::move(clock)) {}

std::int32_t DdeService::hundredths() const { return keepWidth<std::int32_t>(clock_() / 10); }

BoundValue DdeService::requestValue() {
  return [this] { return state_.reception.requestValue.cText(); };
}

void DdeService::writeManualData() {
  host_.setDdeStatusIcon("~precep.ico");
  if (server_) {
    server_->write(-1, "ManualData", requestValue());
    server_->answerRequests(std::string(kReadingsItem), state_.reception.requestValue.cText());
  }
  host_.setDdeStatusIcon("~pok.ico");
}

void DdeService::requestPending() {
  // While a [WAITRS] runs, the timer gives the answer.
  if (state_.reception.waitState != 0) return;
  writeManualData();
}

void DdeService::adviseWithoutLink(const std::string& item) {
  // Its entry is all a Readings link needs: each reading is sent to it as it comes.
  if (upperAscii(item) == upperAscii(kReadingsItem)) return;
  host_.setDdeStatusIcon("~precep.ico");
  if (server_) server_->write(1, "AutoData", requestValue());
  host_.setDdeStatusIcon("~pok.ico");
  // Only says what the link began with: holding the desk until someone clicks would leave
  // every other client unanswered and the strip still.
  host_.showMessageWithoutWaiting("Autodata:" + state_.reception.requestValue.cText());
}

void DdeService::readingsDropped(const std::string& client, const std::string& item) {
  notices_.note({NoticeKind::Warning, "DDE server",
                 "The client " + client + " acknowledges its " + item + " link more slowly than readings come: "
                 "beyond " + std::to_string(kMaxHeldReadings) + " readings waiting for it, the oldest are dropped. "
                 "This is said once for the link."});
}

bool DdeService::roomToSend(const std::vector<MatchedCommand>& commands) const {
  // As if every text stayed queued: a sequence is taken whole or not at all.
  std::size_t characters = charactersToSend_;
  bool alone = sending_.empty();
  for (const MatchedCommand& command : commands) {
    if (command.command != Command::Send && command.command != Command::SendW) continue;
    const std::size_t length = trimRight(command.argument).size() + 1;
    if (!alone && characters + length > kMostCharactersToSend) return false;
    characters += length;
    alone = false;
  }
  return true;
}

bool DdeService::execute(const std::string& command, const std::function<void()>& acknowledge) {
  const Configuration& config = state_.config;
  if (config.ENABLEDDESOUND == 1) host_.playSoundIfEnabled(config.FILESOUNDDDE.trimmed(), config.SOUNDENABLE);
  host_.setDdeStatusIcon("~psend.ico");
  const std::vector<MatchedCommand> commands = matchCommands(commandText(command));
  bool taken = roomToSend(commands);
  // The client is answered once: before the first command that waits, or when all are done.
  bool answered = false;
  const std::function<void()> answerOnce = [&] {
    if (answered) return;
    answered = true;
    if (acknowledge) acknowledge();
  };
  for (std::size_t i = 0; taken && i < commands.size(); ++i) taken = runCommand(commands[i], answerOnce);
  // Read again: [LOAD( may have changed the setting.
  if (state_.config.ENABLESERVERDDE == 1) host_.setDdeStatusIcon("~pok.ico");
  return taken;
}

bool DdeService::runCommand(const MatchedCommand& command, const std::function<void()>& acknowledge) {
  // Before a command waits for a person (a [WAIT(, a message, a refused opening's box) or for
  // time to pass, its client gets the answer: the effects it asked for are done.
  ModalGate::BeforeClosing answerClient(modalGate(), acknowledge);
  Reception& r = state_.reception;
  const int port = state_.config.PORT;
  switch (command.command) {
    case Command::None:
      return true;
    case Command::AppClose:
      if (r.isRunning == 1) {
        host_.closePort();
        {
          ModalGate::Hold hold(modalGate());
          host_.waitSeconds(2);
        }
        host_.refresh();
      }
      host_.closeMainWindow();
      host_.forceZOrder();
      return true;
    case Command::AppTop:
      host_.setZOrderMode(1);
      return true;
    case Command::AppHide:
      host_.setZOrderMode(2);
      return true;
    case Command::Run:
      if (r.isRunning == 0) host_.runFromCommand();
      host_.forceZOrder();
      return true;
    case Command::Opto:
      // A short low pulse on DTR; the delay is given the port, as the library allows.
      r.waitState = 0;
      library_.Dtr(port, 0);
      library_.ComDelay(port, 2);
      library_.Dtr(port, 1);
      return true;
    case Command::Stop:
      host_.stopFromCommand();
      host_.forceZOrder();
      return true;
    case Command::Request:
      r.offerCurrentFrame();
      return true;
    case Command::WaitRs:
      r.waitState = 1;
      state_.wait.waitStart = hundredths();
      return true;
    case Command::ClearBuf:
      if (r.isRunning != 1) return true;
      r.waitState = 0;
      r.requestValue.clear();
      r.clearBuffers();
      r.rawFrame.clear();
      r.currentFrame.clear();
      library_.ClrBuf(port);
      return true;
    case Command::SendW:
      return sendCommand(command.argument, true);
    case Command::Send:
      return sendCommand(command.argument, false);
    case Command::Wait:
      waitCommand(command.argument);
      host_.forceZOrder();
      return true;
    case Command::Load:
      loadCommand(command.argument);
      host_.forceZOrder();
      return true;
    case Command::Message: {
      {
        ModalGate::Hold hold(modalGate());
        host_.showMessage(windows1252ToUtf8(trimRight(command.argument)));
      }
      host_.forceZOrder();
      return true;
    }
  }
  return true;
}

bool DdeService::sendCommand(const std::string& argument, bool oneByOne) {
  std::string text = trimRight(argument) + "\r";
  if (!sending_.empty() && charactersToSend_ + text.size() > kMostCharactersToSend) return false;
  state_.reception.waitState = 0;
  charactersToSend_ += text.size();
  sending_.push_back({std::move(text), oneByOne});
  // Alone in the queue, it starts at once: the port is cleared and the first character
  // (or all of a [SEND() is on the line when the client gets its answer.
  if (sending_.size() == 1) startSending();
  return true;
}

void DdeService::startSending() {
  Sending& job = sending_.front();
  const int port = state_.config.PORT;
  if (takeUpReceived_) takeUpReceived_();
  library_.ClrBuf(port);
  if (job.oneByOne) {
    library_.ComPutb(port, &job.text[job.next++], 1);
  } else {
    library_.ComPuts(port, job.text);
    job.next = job.text.size();
  }
  if (job.next == job.text.size()) finishSending();
}

void DdeService::finishSending() {
  charactersToSend_ -= sending_.front().text.size();
  sending_.pop_front();
  // Lit now, put out by the tick once it has been seen.
  host_.setOrangeLamp(true);
  orangeLit_ = true;
  orangeOffMs_ = clock_() + kLampShownMs;
  host_.refresh();
}

void DdeService::sendStep() {
  if (sending_.empty()) return;
  Sending& job = sending_.front();
  if (job.next == 0) {
    startSending();
    return;
  }
  library_.ComPutb(state_.config.PORT, &job.text[job.next++], 1);
  if (job.next == job.text.size()) finishSending();
}

void DdeService::waitCommand(const std::string& argument) {
  const std::int64_t start = clock_() / 10;
  // Held within what the clock can count (about 300 years), so that a huge argument waits
  // "for ever" instead of overflowing the conversion into a negative wait.
  double hundredths = readDecimal(argument) * 100;
  if (!std::isfinite(hundredths)) hundredths = hundredths > 0 ? kLongestWait : 0;
  const std::int64_t end = start + static_cast<std::int64_t>(std::clamp(hundredths, -kLongestWait, kLongestWait));
  host_.setWindowHeight(kWaitHeight);
  host_.flushKeyboard();
  host_.setProgress(0);
  if (end > start) {
    // Nothing else of the program runs meanwhile: ticks are dropped, DDE events wait.
    ModalGate::Hold hold(modalGate());
    std::int64_t seen = -1;
    for (std::int64_t now = start; now < end; now = clock_() / 10) {
      if (now != seen) {
        seen = now;
        host_.setProgress(100.0 * static_cast<double>(now - start) / static_cast<double>(end - start));
        host_.refresh();
      }
      if (host_.waitPass()) break;  // the main window has taken the key press
    }
  }
  host_.setWindowHeight(kNormalHeight);
  host_.refresh();
}

void DdeService::loadCommand(const std::string& argument) {
  const std::string name = windows1252ToUtf8(trimRight(argument));
  const std::string path = findPathIgnoringCase(host_.currentDirectory(), name);
  // A name that is no readable settings file would load as a blank configuration, which
  // then fails at the next [RUN] without saying why: the configuration in force stays.
  std::string content;
  std::uintmax_t size = 0;
  if (readWholeFile(path, kMaxProfileFileBytes, content, size) != WholeFile::Ok) {
    notices_.note({NoticeKind::Warning, "DDE server",
                   "[LOAD(" + name + ")]: " + path + " is not there or cannot be read as a configuration; the "
                   "configuration " + (state_.configFilePath.empty() ? std::string("in force") : state_.configFilePath) +
                   " stays in force."});
    return;
  }
  state_.configFilePath = path;
  loadConfiguration(state_.config, state_.configFilePath);
  host_.refresh();
}

void DdeService::answerDueRequest() {
  writeManualData();
  state_.reception.waitState = 0;
}

void DdeService::readingDelivered() {
  if (server_) {
    const OfferedValue value(state_.reception.currentFrame.padded());
    server_->send(std::string(kReadingsItem), value.cText());
  }
  if (state_.reception.waitState == 1) state_.reception.waitState = 2;
}

void DdeService::tickBeforePoll() {
  if (orangeLit_ && clock_() >= orangeOffMs_) {
    orangeLit_ = false;
    host_.setOrangeLamp(false);
  }
  Reception& r = state_.reception;
  if (r.waitState == 1) {
    const auto difference = static_cast<std::int32_t>(static_cast<std::uint32_t>(hundredths()) -
                                                      static_cast<std::uint32_t>(state_.wait.waitStart));
    state_.wait.elapsed = keepWidth<std::int32_t>(std::abs(static_cast<long long>(difference)));
    if (state_.wait.elapsed > kWaitRsTimeout) r.waitState = 2;
  }
  if (r.waitState == 2) answerDueRequest();
}

void DdeService::tickAfterPoll() {
  if (state_.reception.waitState == 2) answerDueRequest();
}

void DdeService::tick(const std::function<void()>& poll) {
  tickBeforePoll();
  poll();
  tickAfterPoll();
}

}  // namespace kelvor::dde
