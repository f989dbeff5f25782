#include "core/desk/desk.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "core/desk/tick_schedule.h"
#include "core/line/serial_ports.h"
#include "core/settings/file_commands.h"
#include "core/settings/profile_file.h"
#include "core/system/system.h"
#include "core/toolkit/modal_gate.h"

namespace kelvor {
namespace {

constexpr std::size_t kMessageLine = 50;

// The message window shows three lines of 50 characters: break the sentence between words.
std::string wrapForMessage(const std::string& sentence) {
  std::string text;
  std::string line;
  std::size_t pos = 0;
  while (pos < sentence.size()) {
    std::size_t end = sentence.find(' ', pos);
    if (end == std::string::npos) end = sentence.size();
    const std::string word = sentence.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.size() + 1 + word.size() > kMessageLine) {
      text += padRight(line, kMessageLine);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return text + line;
}

// The DDE service's handlers as the server calls them, each followed by a wake of the tick: a
// command may have started a [WAITRS], text to send or a run, and an advise a link.
class WakingEvents : public dde::DdeEvents {
 public:
  WakingEvents(dde::DdeEvents& events, std::function<void()> wake) : events_(events), wake_(std::move(wake)) {}
  void requestPending() override {
    events_.requestPending();
    wake_();
  }
  void adviseWithoutLink(const std::string& item) override {
    events_.adviseWithoutLink(item);
    wake_();
  }
  bool execute(const std::string& command, const std::function<void()>& acknowledge) override {
    const bool taken = events_.execute(command, acknowledge);
    wake_();
    return taken;
  }

 private:
  dde::DdeEvents& events_;
  std::function<void()> wake_;
};

}  // namespace

std::string deskKey(std::string_view workingFolder) {
  // FNV-1a: short, stable across runs and builds, and spreads similar paths apart.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : workingFolder) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string key(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) key[static_cast<std::size_t>(i)] = kDigits[hash & 0xF];
  return key;
}

Desk::Desk(std::string iniFilePath, Clock clock) : clock_(std::move(clock)), workingFolder_(folderOf(iniFilePath)) {
  state_.splashSeconds = 10;
  state_.touchSoundPath = "sound\\touch.wav";
  state_.iniFilePath = std::move(iniFilePath);
  settingsWait_ = awaitSettingsFile(state_.iniFilePath, kSettingsPatience,
                                    [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); });
  state_.settingsUnreadable = !settingsWait_.readable;
  state_.language.languageFilePath = readProfileString(state_.iniFilePath, "TRANSLATE", "FILENAME");
  loadStartupConfiguration(state_.config, state_.configFilePath, state_.iniFilePath);
  splashAtStart_ = trimRight(readProfileString(state_.iniFilePath, "STARTUP", "SPLASH")) != "0";
}

Desk::~Desk() { release(); }

void Desk::tellSettingsWait() {
  if (!settingsWait_.held) return;
  char seconds[16];
  std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(settingsWait_.waited.count()) / 1000.0);
  if (settingsWait_.readable) {
    notices_->note({NoticeKind::Warning, "Kelvor",
                    state_.iniFilePath + " could not be opened at start-up (" + settingsWait_.cause +
                        "); Kelvor waited " + seconds + " s and read it once it was free."});
    return;
  }
  notices_->mention({NoticeKind::Warning, "Kelvor",
                     "Kelvor cannot open " + state_.iniFilePath + ": " + settingsWait_.cause + ", still after " +
                         seconds + " s. It starts without the settings held there (the configuration, the "
                         "language file, the DDE server), and does not take the folder for a new one. Close the "
                         "program that holds the file, then start Kelvor again."});
}

// The parts go before the adapters and views they hold on to, which the face owns; the
// publisher says "offline" and ends its thread before the notices it uses go away.
void Desk::release() {
  if (tickTimer_) modalGate().setOpened(nullptr);
  tickTimer_ = nullptr;
  outputs_.reset();
  publisher_.reset();
  queuedNotices_.reset();
  server_.reset();
  events_.reset();
  service_.reset();
  run_.reset();
  portWatch_.reset();
  keystrokes_.reset();
}

void Desk::connect(DeskPlatform platform, DeskFace face) {
  serial_ = &platform.serial;
  notices_ = &platform.notices;
  endpoint_ = platform.dde;
  view_ = &face.view;
  commands_ = &face.commands;
  hostName_ = platform.hostName;
  Notices& notices = platform.notices;
  tellSettingsWait();
  tickTimer_ = platform.tickTimer;
  // What the gate held back (a DDE event, a tick's work) is taken up by the next tick.
  if (tickTimer_) modalGate().setOpened([this] { wake(); });

  // Keystroke output (ENABLESENDKEY): each delivered reading typed through the session's
  // keyboard into the focused window of another program. A desktop that asks the user
  // before Kelvor may type asks at start when readings are to be typed, and otherwise only
  // once the first one is.
  keystrokes_ = std::make_unique<KeystrokeOutput>(platform.keyboard, face.keystrokes, notices);
  if (state_.config.ENABLESENDKEY == 1) platform.keyboard.open();
  face.keystrokes.showKeyboard(platform.keyboard.name());
  notices.note({NoticeKind::Information, "keystrokes", platform.keyboard.name()});

  // The port and the watch that brings its device back during a run.
  portWatch_ = std::make_unique<PortWatch>(portContext(), platform.deviceWatch, face.view, clock_);
  run_ = std::make_unique<RunControl>(state_.reception, face.view);
  run_->openPort = [this] { openPort(); };
  run_->closePort = [this] { closePort(); };
  run_->watch = portWatch_.get();
  pollHooks_.showLamps = [this](bool green, bool red) { lightLamps(green, red); };
  pollHooks_.deliver = [this](const Text<2550>& frame, const Text<2550>& value) { deliver(frame, value); };

  // The DDE service's handlers and commands; the server comes with startDde().
  service_ = std::make_unique<dde::DdeService>(state_.serviceRecords(), face.commands, platform.serial, notices,
                                               milliseconds());
  events_ = std::make_unique<WakingEvents>(*service_, [this] { wake(); });
  service_->setTakeUpReceived([this] {
    if (state_.reception.isRunning == 1) poll(state_.config, state_.reception, *serial_, pollHooks_);
  });

  // The reading log and MQTT publishing, as KELVOR.INI sets them. The publisher tells from a
  // thread of its own.
  queuedNotices_ = std::make_unique<QueuedNotices>(notices, platform.ui);
  publisher_ = platform.makePublisher(*queuedNotices_);
  outputs_ = std::make_unique<ReadingOutputs>(*queuedNotices_, *publisher_, OutputsPlace{workingFolder_, hostName_, askedService()});
  outputs_->apply(readOutputSettings(state_.iniFilePath), state_.config.NAME.trimmed());
}

dde::MonotonicClock Desk::milliseconds() const {
  return [clock = clock_] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock().time_since_epoch()).count();
  };
}

std::string Desk::serviceName() {
  const std::string asked = askedService();
  std::string rule;
  if (endpoint_->isServiceName(asked, rule)) return asked;
  notices_->mention({NoticeKind::Warning, "DDE server",
                     "The DDE service name \"" + asked + "\" ([DDE] SERVICE in KELVOR.INI) cannot be used: " + rule +
                         ". Kelvor serves as \"" + std::string(dde::kDefaultService) + "\" instead."});
  return std::string(dde::kDefaultService);
}

void Desk::startDde() {
  if (state_.config.ENABLESERVERDDE != 1 || server_ || endpoint_ == nullptr) return;
  const std::string service = serviceName();
  server_ = std::make_unique<dde::DdeServer>(service, "System", *endpoint_, *events_, milliseconds());
  std::string error;
  if (!endpoint_->start(service, *server_, error)) {
    server_.reset();
    state_.ddeChannel = 0;
    ddeProblem_ = error;
    // Kelvor's own message window says it, as it always has; the journal gets the line.
    notices_->note({NoticeKind::Warning, "DDE server", error});
    commands_->showMessage(wrapForMessage(error));
    return;
  }
  service_->setServer(server_.get());
  state_.ddeChannel = 1;
  servedAs_ = service;
  ddeProblem_.clear();
}

std::string Desk::ddeStatus() const {
  if (server_) return "DDE server: serving as \"" + servedAs_ + "\".";
  if (state_.config.ENABLESERVERDDE != 1) return "DDE server: switched off.";
  if (endpoint_ == nullptr) return "DDE server: this desktop offers none.";
  if (!ddeProblem_.empty()) return "DDE server: switched on, but not serving: " + ddeProblem_;
  return "DDE server: switched on, not serving yet.";
}

void Desk::closeDde() {
  if (!server_) return;
  endpoint_->close();
  service_->setServer(nullptr);
  server_.reset();
  state_.ddeChannel = 0;
  servedAs_.clear();
}

void Desk::started() {
  state_.reception.portWindowHandle = kMainWindowHandle;
  state_.splashSeconds = 0;
  state_.zOrderMode = 1;
  state_.reception.waitState = 0;
  nextLinkLook_ = clock_() + kLinkInterval;
}

bool Desk::tick() {
  // The link timer and the paced sending go on while a modal window is open, as timers of
  // their own would.
  const auto now = clock_();
  if (server_ && now >= nextLinkLook_) {
    nextLinkLook_ = now + kLinkInterval;
    server_->checkLinks();
  }
  service_->sendStep();
  if (!modalGate().isOpen()) return false;
  service_->tickBeforePoll();
  if (state_.reception.isRunning == 1) {
    poll(state_.config, state_.reception, *serial_, pollHooks_);
    tellOverrun();
    portWatch_->tick();
    view_->showTexts();
  }
  showLamps();
  service_->tickAfterPoll();
  return true;
}

std::chrono::steady_clock::time_point Desk::nextTick() const {
  const auto now = clock_();
  if (state_.reception.isRunning == 1 || (service_ && service_->needsTick())) return now;
  auto next = TickSchedule::kNever;
  if (greenShown_) next = std::min(next, greenUntil_);
  if (redShown_) next = std::min(next, redUntil_);
  if (server_ && server_->hasLinks()) next = std::min(next, nextLinkLook_);
  return next;
}

void Desk::wake() {
  if (tickTimer_) tickTimer_->wake();
}

void Desk::lightLamps(bool green, bool red) {
  const auto now = clock_();
  if (green) greenUntil_ = now + kLampShownFor;
  if (red) redUntil_ = now + kLampShownFor;
  showLamps();
}

void Desk::showLamps() {
  const auto now = clock_();
  const bool green = now < greenUntil_;
  const bool red = now < redUntil_;
  if (green == greenShown_ && red == redShown_) return;
  greenShown_ = green;
  redShown_ = red;
  view_->showLamps(green, red);
}

void Desk::deliver(const Text<2550>& frame, const Text<2550>& value) {
  const Configuration& config = state_.config;
  // The DDE value, then the outputs (the moment it becomes the value, before it is typed),
  // then the keystrokes, then a [WAITRS] waiting for it.
  if (config.SENDORREQUEST == 0) state_.reception.offerCurrentFrame();
  outputs_->deliver(config.NAME.trimmed(), config.PORT, value.trimmed(), frame.trimmed());
  if (config.ENABLESENDKEY == 1) keystrokes_->deliver(value, config);
  // A [WAITRS] gets this reading, not one that the same poll cuts after it.
  service_->readingDelivered();
  service_->tickAfterPoll();
}

void Desk::openPort() {
  wake();  // the run's polls
  PortContext port = portContext();
  kelvor::openPort(port);
  overrunsAtOpen_ = serial_->inputOverruns(state_.config.PORT);
  overrunTold_ = false;
}

void Desk::tellOverrun() {
  if (overrunTold_ || serial_->inputOverruns(state_.config.PORT) <= overrunsAtOpen_) return;
  overrunTold_ = true;
  // Kelvor reads only what it can keep and leaves the rest in the port, so a loss here is
  // the port's own: its buffer filled faster than the line was read.
  notices_->mention({NoticeKind::Warning, "Serial port",
                     comName(state_.config.PORT) + " lost characters: its own input buffer overflowed, so some "
                     "readings of the instrument are missing. This is said once while reception runs."});
}

void Desk::closePort() {
  PortContext port = portContext();
  kelvor::closePort(port);
  wake();  // one more tick shows the strip as the run left it
}

std::string Desk::defaultClientId() const { return clientId({}, hostName_, askedService(), workingFolder_); }

std::string Desk::askedService() const {
  const std::string asked = trimRight(readProfileString(state_.iniFilePath, "DDE", "SERVICE"));
  return asked.empty() ? std::string(dde::kDefaultService) : asked;
}

std::string Desk::defaultTopic() const { return topicPrefix({}, hostName_, state_.config.NAME.trimmed()); }

std::string Desk::publishingState() const {
  return publisherStateText(outputs_->settings().mqtt.ENABLE == 1, publisher_->state());
}

void Desk::saveOutputSettings(const OutputSettings& settings) {
  std::string error;
  if (!writeOutputSettings(state_.iniFilePath, settings, error)) {
    notices_->mention({NoticeKind::Error, "Reading log and MQTT",
                       "The settings cannot be saved in KELVOR.INI: " + error + ". They are in force until Kelvor ends."});
  }
  outputs_->apply(settings, state_.config.NAME.trimmed());
}

void Desk::shutdown() {
  if (state_.reception.isRunning == 1) closePort();
  closeDde();
  release();
}

}  // namespace kelvor
