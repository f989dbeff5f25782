#include "core/line/port_watch.h"

#include <ctime>

#include "core/line/receive_pipeline.h"
#include "core/system/system.h"

namespace kelvor {
namespace {

constexpr const char* kCaption = "Kelvor - serial port";

std::string clockTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const std::tm local = localTime(seconds);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace

PortWatch::PortWatch(PortContext port, DeviceWatch& folder, RunView& view, Clock clock)
    : port_(port), folder_(folder), view_(view), clock_(std::move(clock)) {}

std::string PortWatch::portName() const {
  const std::string com = "COM" + std::to_string(port_.config.PORT + 1);
  return device_.empty() ? com : com + " (" + device_ + ")";
}

void PortWatch::runStarted() {
  state_ = State::Present;
  if (port_.library.health(port_.config.PORT) == SerialLibrary::PortHealth::Open) return;
  // openPort has told why in its box: that refusal is not told again in this absence.
  const std::int16_t told = port_.reception.portStatus != 0 ? port_.reception.portStatus : kLineSettings;
  lostDuringRun_ = false;
  goAway(told == kLineSettings ? refusedLineSettings(port_) + "." : port_.library.errorMessage(told), told,
         std::chrono::system_clock::now());
}

void PortWatch::runStopped() {
  if (state_ == State::Away) view_.showPortAway({});
  state_ = State::Stopped;
  settling_ = false;
  folder_.stop();
  told_.clear();
  description_.clear();
}

void PortWatch::goAway(const std::string& cause, std::int16_t alreadyTold, std::chrono::system_clock::time_point when) {
  state_ = State::Away;
  device_ = port_.library.devicePath(port_.config.PORT);
  since_ = clockTime(when);
  told_.clear();
  if (alreadyTold != 0) told_.insert(alreadyTold);
  waitForChange_ = alreadyTold == kLineSettings;
  refused_ = lineSettingsOf(port_.config);
  nextTry_ = clock_() + kRetryInterval;
  resyncAfterGap(port_.config, port_.reception);
  folder_.watch(device_);
  showAway(cause);
}

void PortWatch::showAway(const std::string& cause) {
  // A device that refuses the line settings is there: the strip says what it refused.
  if (waitForChange_) {
    description_ = portName() + ": the line settings were refused at " + since_ + ".\n" + cause +
                   "\nKelvor tries again when the configuration or the device changes.";
  } else {
    description_ = portName() + ": no device since " + since_ + ".\n" + cause + "\n" +
                   (lostDuringRun_ ? "Kelvor reopens it as soon as it is back." : "Kelvor opens it as soon as it is there.");
  }
  view_.showPortAway(description_);
}

void PortWatch::tick() {
  if (state_ == State::Present) {
    if (settling_) settle();
    if (port_.library.health(port_.config.PORT) != SerialLibrary::PortHealth::Lost) return;
    const SerialLibrary::PortLoss loss = port_.library.loss(port_.config.PORT);
    lostDuringRun_ = true;
    const std::string cause = "It stopped answering (" + loss.cause + "): disconnected or switched off.";
    goAway(cause, 0, loss.when == std::chrono::system_clock::time_point{} ? std::chrono::system_clock::now()
                                                                              : loss.when);
    note(NoticeKind::Warning, portName() + " stopped answering (" + loss.cause +
                                  "): the device was disconnected or switched off. Kelvor reopens it as soon as "
                                  "it is back; DDE clients keep the last reading meanwhile.");
    return;
  }
  if (state_ != State::Away) return;
  // Refused line settings are tried again when the device changes, or when the configuration
  // in force changes them ([LOAD(, the configuration window) during the run.
  const bool changed = folder_.changed() || (waitForChange_ && lineSettingsOf(port_.config) != refused_);
  if (!changed && (waitForChange_ || clock_() < nextTry_)) return;
  tryReopen();
}

void PortWatch::tryReopen() {
  nextTry_ = clock_() + kRetryInterval;
  // [PORTS] may have been changed meanwhile (the device window), and a folder that did not
  // exist (/dev/serial before the first adapter) may exist now: follow both.
  device_ = port_.library.devicePath(port_.config.PORT);
  folder_.watch(device_);
  const ReopenResult result = reopenPort(port_);
  if (result.outcome == ReopenResult::Refused) {
    waitForChange_ = false;
    refused(result.code, port_.library.errorMessage(result.code));
    return;
  }
  if (result.outcome == ReopenResult::LineSettingsRefused) {
    waitForChange_ = true;
    const bool again = lineSettingsOf(port_.config) == refused_;
    refused_ = lineSettingsOf(port_.config);
    // New settings refused too are told anew, with what was refused this time.
    if (!again) told_.erase(kLineSettings);
    refused(kLineSettings, refusedLineSettings(port_) + ". Kelvor tries again when the configuration or the device "
                                                        "changes.");
    return;
  }
  note(NoticeKind::Information,
       portName() + (lostDuringRun_ ? " is back: reception goes on." : " is there now: reception starts."));
  state_ = State::Present;
  settling_ = true;
  told_.clear();
  description_.clear();
  folder_.stop();
  view_.showPortAway({});
}

void PortWatch::settle() {
  Reception& reception = port_.reception;
  if (!reception.resync.active) {
    settling_ = false;  // a terminator came: aligned
  } else if (reception.portStatus == 0 && reception.frameBuffer.empty()) {
    reception.resync = {};  // a whole poll without a byte: the next one starts a frame
    settling_ = false;
  }
}

void PortWatch::refused(std::int16_t code, const std::string& message) {
  // A device that is simply not there yet is what the strip already says.
  if (port_.library.isMissingDevice(code) && lostDuringRun_) return;
  if (!told_.insert(code).second) return;
  note(NoticeKind::Warning, message);
  showAway(message);
}

void PortWatch::note(NoticeKind kind, const std::string& text) {
  const std::string line = lines_.line(text);
  if (!line.empty()) port_.notices.note({kind, kCaption, line});
}

}  // namespace kelvor
