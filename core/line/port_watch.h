#pragma once
// Keeping reception's port through a run. USB adapters are pulled, knocked out and
// re-enumerated all the time at a bench; when the device of a running port goes away,
// reception carries on by itself once it is back, with nobody at the desk.
//
// What it promises:
// - It works only while reception runs: the run control starts it after opening the port
//   and stops it before closing it. Stopped, it holds nothing and does nothing.
// - A device that vanishes is told once (a line on standard error, and the strip's "port
//   away" state with a tooltip naming the port, the device, the cause and the time), its
//   return once. No box: DDE clients go on being answered with the value they had. A
//   connector that flaps has its lines written the first five times each, then only as a
//   count at 10, 100, 1,000, ... (the strip still says each time).
// - While the device is away, reopening is tried at once when its folder changes and
//   otherwise every 300 ms, from the tick: no thread and no busy loop. Each different
//   refusal in one absence (not a port, held by another program, no permission) is told
//   once; a device that refuses the line settings is tried again only when its folder
//   changes or the configuration in force changes them, not opened and closed over and over.
//   Such a device is there: the strip says what it refused, not that it is away.
// - A run started while the device is absent has had its one box from openPort; the
//   device is picked up when it appears, with no second box.
// - Reopening takes openPort's steps with the settings in force, quietly.
// - Nothing held of a frame that the gap cut in two is ever delivered (resyncAfterGap):
//   what was held is dropped, and what arrives at once after the reopening is taken for
//   the tail of a frame and skipped to the next terminator. A line that stays quiet for a
//   whole poll after the reopening was between frames, so the next byte starts a frame and
//   nothing is skipped (an instrument that answers on demand loses no answer).

#include <chrono>
#include <functional>
#include <set>
#include <string>

#include "core/diagnostics/repeat_bound.h"
#include "core/line/port_control.h"
#include "core/line/run_control.h"

namespace kelvor {

// Tells when the entry of a device in its folder appears, vanishes or changes. The program
// watches with inotify; tests change a flag.
class DeviceWatch {
 public:
  virtual ~DeviceWatch() = default;
  // Watches the folder that holds `device` for changes to the entry of that name. A
  // folder that cannot be watched (it does not exist yet) is left to the retries, which
  // call this again.
  virtual void watch(const std::string& device) = 0;
  // Whether such a change happened since the last call. Never blocks.
  virtual bool changed() = 0;
  // Stops watching and releases what watching holds.
  virtual void stop() = 0;
};

class PortWatch {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kRetryInterval{300};

  PortWatch(PortContext port, DeviceWatch& folder, RunView& view, Clock clock);

  // After openPort at the start of a run: a port that did not open is watched for.
  void runStarted();
  // Before closePort at the end of a run.
  void runStopped();
  // Each tick of a run, after the poll: notices a lost device, tries to reopen one away.
  void tick();

  bool isAway() const { return state_ == State::Away; }
  // What the strip's tooltip says while the device is away.
  const std::string& description() const { return description_; }

 private:
  enum class State { Stopped, Present, Away };
  static constexpr std::int16_t kLineSettings = -1;  // a refusal of InitPort, among the codes

  void goAway(const std::string& cause, std::int16_t alreadyTold, std::chrono::system_clock::time_point when);
  void tryReopen();
  void settle();
  void refused(std::int16_t code, const std::string& message);
  void showAway(const std::string& cause);
  std::string portName() const;
  void note(NoticeKind kind, const std::string& text);

  PortContext port_;
  DeviceWatch& folder_;
  RunView& view_;
  Clock clock_;

  State state_ = State::Stopped;
  bool lostDuringRun_ = false;     // away since a loss (not since the start of the run)
  std::string device_;             // what [PORTS] named when the device went away
  std::string since_;              // the time it went away, as the user reads it
  std::set<std::int16_t> told_;    // refusals told in this absence
  bool waitForChange_ = false;     // the line settings were refused: retry on a change only
  LineSettings refused_;           // the line settings last refused
  bool settling_ = false;          // reopened: is the line between frames, or inside one?
  std::chrono::steady_clock::time_point nextTry_{};
  std::string description_;
  // A connector that flaps writes a line at each vanish and return, for as long as it flaps:
  // bounded by cause, as every message that can come again and again.
  RepeatBound lines_;
};

}  // namespace kelvor
