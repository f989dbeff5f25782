#pragma once
// The desk: the one object that owns the program's records and runs it, the same on every
// desktop. It holds the reception (the port, its poll and its watch), keystroke output, the
// DDE service and server, and the outputs (the reading log and MQTT); it runs the 20 ms tick
// and hands every delivered reading on by one way:
//
//   poll() -> Desk::deliver(frame, value) -> the DDE value (requestValue), the reading log
//   and MQTT, the keystrokes, a pending [WAITRS] made due
//
// A face (the Qt strip on Linux, the Win32 strip on Windows) gives it the platform's
// adapters and its own views, calls tick() every 20 ms while nextTick() says something is due
// (TickSchedule), and shows what the records hold. At rest the tick sleeps; the desk wakes it
// through the face's TickTimer when something becomes due.
//
// Life: construct (the records are read: KELVOR.INI, the start-up configuration), then
// connect() once the face exists, startDde() at start-up step 13, started() when the strip
// shows, shutdown() when the strip closes.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/dde/command_host.h"
#include "core/dde/dde_server.h"
#include "core/dde/dde_service.h"
#include "core/desk/kelvor_state.h"
#include "core/settings/profile_file.h"
#include "core/desk/queued_notices.h"
#include "core/keystrokes/keyboard_choice.h"
#include "core/keystrokes/keystroke_output.h"
#include "core/line/port_watch.h"
#include "core/line/receive_pipeline.h"
#include "core/line/run_control.h"
#include "core/line/serial_library.h"
#include "core/outputs/reading_outputs.h"
#include "core/system/tick_timer.h"
#include "core/system/ui_thread.h"
#include "core/toolkit/notices.h"

namespace kelvor {

// What the strip shows of the desk beyond the run state.
class DeskView : public RunView {
 public:
  // The two lamps of the poll: green while a poll runs, red too while it received bytes.
  virtual void showLamps(bool green, bool red) = 0;
  // The configuration's name and the last reading, shown again.
  virtual void showTexts() = 0;
};

// The platform's adapters.
struct DeskPlatform {
  SerialLibrary& serial;
  DeviceWatch& deviceWatch;
  ChosenKeyboard& keyboard;
  dde::DdeEndpoint* dde = nullptr;  // none: this desk serves no DDE
  // Makes the MQTT publisher; the notices it is given accept calls from any thread.
  std::function<std::unique_ptr<ReadingPublisher>(Notices& notices)> makePublisher;
  Notices& notices;  // the face's own, on the user-interface thread
  UiThread& ui;
  std::string hostName;
  TickTimer* tickTimer = nullptr;  // none: the face ticks every interval regardless
};

// The face's views and hosts.
struct DeskFace {
  DeskView& view;
  dde::CommandHost& commands;
  KeystrokeHost& keystrokes;
};

// The name under which the desk of `workingFolder` is known to other starts of Kelvor on
// this machine: 16 hexadecimal digits, the same for the same folder.
std::string deskKey(std::string_view workingFolder);

class Desk {
 public:
  // AutoData and the other periodic links are looked at this often.
  static constexpr std::chrono::milliseconds kLinkInterval{1050};
  // How long a lamp stays lit after the event it marks. A poll takes far less than a
  // millisecond: a lamp shown and hidden within it is never seen on any screen.
  static constexpr std::chrono::milliseconds kLampShownFor{dde::kLampShownMs};

  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // How long start-up waits for a KELVOR.INI that is there but cannot be read.
  static constexpr std::chrono::milliseconds kSettingsPatience{5000};

  // Reads the records of the desk that lives in the folder of `iniFilePath` (KELVOR.INI):
  // the language file named there and the start-up configuration. A KELVOR.INI that another
  // program holds open is waited for (kSettingsPatience); one still unreadable then leaves
  // the records empty and state().settingsUnreadable set, and connect() says so. `clock`
  // paces the links and the port's watch.
  explicit Desk(std::string iniFilePath, Clock clock = [] { return std::chrono::steady_clock::now(); });
  ~Desk();
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  KelvorState& state() { return state_; }
  const KelvorState& state() const { return state_; }

  // Whether start-up shows the splash (step 7). A bench that starts Kelvor unattended and
  // wants DDE answered at once turns it off with [STARTUP] SPLASH=0 in KELVOR.INI (or the
  // command line's --no-splash); anything else keeps it.
  bool splashAtStart() const { return splashAtStart_; }

  // Builds the parts on the platform's adapters and the face's views: the port, its poll and
  // watch, keystroke output, the DDE service, the reading log and MQTT (as KELVOR.INI sets
  // them).
  void connect(DeskPlatform platform, DeskFace face);

  // Registers the DDE server when ENABLESERVERDDE is 1: service "Kelvor", or the one [DDE]
  // SERVICE of KELVOR.INI names. When it cannot serve (a second Kelvor, no bus), the program
  // goes on without a server and says so once.
  // Called again once the user has switched the server on, it starts it then.
  void startDde();
  bool ddeServing() const { return server_ != nullptr; }
  // What the DDE icon's tooltip says: serving under which name, off, or on but not serving
  // and why.
  std::string ddeStatus() const;

  // The strip is shown and the tick is about to start (start-up steps 14 to 18).
  void started();

  // The 20 ms tick. The link timer's duty runs every time; the rest only while the modal gate
  // is open (ticks while a modal window or a blocking wait holds it are dropped, not
  // replayed): a [WAITRS] time-out or due answer, the poll, an answer the poll made due.
  // Returns whether the gated steps ran.
  bool tick();

  // When the desk next has something for its tick: every tick (the clock's present time)
  // while reception runs, a [WAITRS] waits, text is being sent or a lamp is lit; the next
  // look at the links while links are kept; otherwise never (TickSchedule::kNever). What
  // makes something due later (a run starting, a DDE event, the modal gate opening) wakes the
  // face's TickTimer.
  std::chrono::steady_clock::time_point nextTick() const;

  // A reading the poll delivered: the frame as cut and its value.
  void deliver(const Text<2550>& frame, const Text<2550>& value);

  RunControl* runControl() { return run_.get(); }
  PortContext portContext() { return state_.portContext(*serial_, *notices_); }
  void openPort();
  void closePort();

  // The outputs: their settings in force, the defaults shown for blank ones, and a change
  // saved in KELVOR.INI and put in force at once.
  const OutputSettings& outputSettings() const { return outputs_->settings(); }
  std::string defaultClientId() const;
  std::string defaultTopic() const;
  // The broker's connection and the queue, in a sentence for the outputs window.
  std::string publishingState() const;
  void saveOutputSettings(const OutputSettings& settings);

  // The port closed if reception runs, then the DDE server; nothing is saved. The parts are
  // released, so that the face may take its adapters and views down after it.
  void shutdown();

 private:
  void release();
  // Says what start-up found of a KELVOR.INI it could not read at first.
  void tellSettingsWait();
  void closeDde();
  void wake();
  // The poll's lamps: lit at once, put out only once they have been shown long enough; the
  // strip is told only of a change, so that the poll does not repaint it every time.
  void lightLamps(bool green, bool red);
  void showLamps();
  void tellOverrun();
  std::string serviceName();
  // The service KELVOR.INI asks for, or the default; not yet checked against the transport.
  std::string askedService() const;
  // The desk's clock in milliseconds, for the DDE service and server.
  dde::MonotonicClock milliseconds() const;

  KelvorState state_;
  SettingsFileWait settingsWait_;
  Clock clock_;
  std::string hostName_;
  std::string workingFolder_;
  bool splashAtStart_ = true;

  SerialLibrary* serial_ = nullptr;
  TickTimer* tickTimer_ = nullptr;
  Notices* notices_ = nullptr;
  dde::DdeEndpoint* endpoint_ = nullptr;
  DeskView* view_ = nullptr;
  dde::CommandHost* commands_ = nullptr;

  std::unique_ptr<QueuedNotices> queuedNotices_;
  std::unique_ptr<ReadingPublisher> publisher_;
  std::unique_ptr<ReadingOutputs> outputs_;
  std::unique_ptr<KeystrokeOutput> keystrokes_;
  std::unique_ptr<PortWatch> portWatch_;
  std::unique_ptr<RunControl> run_;
  std::unique_ptr<dde::DdeService> service_;
  std::unique_ptr<dde::DdeEvents> events_;  // the service's handlers, each waking the tick
  std::unique_ptr<dde::DdeServer> server_;
  PollHooks pollHooks_;
  std::chrono::steady_clock::time_point nextLinkLook_{};
  std::string servedAs_;    // the service while serving
  std::string ddeProblem_;  // why it could not serve, when it tried
  std::chrono::steady_clock::time_point greenUntil_{};
  std::chrono::steady_clock::time_point redUntil_{};
  bool greenShown_ = false;
  bool redShown_ = false;
  // The port's own overflows: counted from the opening, told once a run.
  std::uint64_t overrunsAtOpen_ = 0;
  bool overrunTold_ = false;
};

}  // namespace kelvor
