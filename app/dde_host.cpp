#include "app/dde_host.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include "app/main_window.h"
#include "dde/command_host.h"
#include "dde/dde_server.h"
#include "dde/dde_service.h"
#include "platform/dbus_dde_transport.h"
#include "platform/profile_file.h"
#include "toolkit/message_window.h"
#include "toolkit/sound.h"

namespace kelvor {
namespace {

constexpr int kWaitPassMs = 10;
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

// Notes that a key was pressed while a blocking command waits; the key itself goes on to
// the main window (its key-catcher), which takes it as an event.
class KeyPressWatch : public QObject {
 public:
  KeyPressWatch() { qApp->installEventFilter(this); }
  ~KeyPressWatch() override { qApp->removeEventFilter(this); }
  bool pressed = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) pressed = true;
    return false;
  }
};

class MainWindowHost : public dde::CommandHost {
 public:
  MainWindowHost(KelvorState& state, MainWindow& window) : state_(state), window_(window) {}

  void runFromCommand() override { window_.runFromCommand(); }
  void stopFromCommand() override { window_.stopFromCommand(); }
  void closePort() override {
    if (window_.hooks.closePort) window_.hooks.closePort();
  }
  void setZOrderMode(std::uint8_t mode) override { window_.setZOrderMode(mode); }
  void forceZOrder() override { window_.forceZOrder(); }
  void closeMainWindow() override { window_.close(); }
  void refresh() override {
    window_.showTexts();
    window_.repaint();
  }
  void setOrangeLamp(bool shown) override {
    window_.setLamp(MainWindow::Lamp::Orange, shown);
    window_.repaint();
  }
  void setDdeStatusIcon(const std::string& icon) override { window_.setDdeIcon(icon); }
  void setWindowHeight(int units) override { window_.setWaitBandShown(units > MainWindow::kShownHeightUnits); }
  void setProgress(double percent) override { window_.setProgress(percent); }
  bool waitPass() override {
    KeyPressWatch watch;
    QEventLoop loop;
    QTimer::singleShot(kWaitPassMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return watch.pressed;
  }
  void flushKeyboard() override { kelvor::flushKeyboard(); }
  void waitSeconds(double seconds) override { kelvor::waitSeconds(seconds); }
  void showMessage(const std::string& text) override {
    kelvor::showMessage(text, state_.config.SOUNDENABLE, state_.touchSoundPath);
  }
  void playSoundIfEnabled(const std::string& name, std::uint8_t soundEnable) override {
    kelvor::playSoundIfEnabled(name, soundEnable);
  }
  std::string currentDirectory() override { return kelvor::currentDirectory(); }

 private:
  KelvorState& state_;
  MainWindow& window_;
};

// The service name from [DDE] SERVICE of KELVOR.INI; Kelvor when the key is missing or
// blank, and also, said once, when it cannot be a bus-name element.
std::string serviceName(const std::string& iniFilePath, Notices& notices) {
  const std::string asked = trimRight(readProfileString(iniFilePath, "DDE", "SERVICE"));
  if (asked.empty()) return std::string(dde::kDefaultService);
  if (dde::isServiceName(asked)) return asked;
  notices.mention({NoticeKind::Warning, "DDE server",
                   "The DDE service name \"" + asked + "\" ([DDE] SERVICE in KELVOR.INI) cannot be used: a name is "
                   "made of letters, digits, \"_\" and \"-\", does not begin with a digit and has at most 251 "
                   "characters. Kelvor serves as \"" + std::string(dde::kDefaultService) + "\" instead."});
  return std::string(dde::kDefaultService);
}

}  // namespace

struct DdeRuntime::Parts {
  Parts(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices)
      : state(state), notices(notices), host(state, window),
        service(state.serviceRecords(), host, library, dde::steadyClock()) {}

  KelvorState& state;
  Notices& notices;
  MainWindowHost host;
  dde::DdeService service;
  DBusDdeTransport transport;
  std::unique_ptr<dde::DdeServer> server;
};

DdeRuntime::DdeRuntime(KelvorState& state, MainWindow& window, SerialLibrary& library, Notices& notices)
    : parts_(std::make_unique<Parts>(state, window, library, notices)) {}

DdeRuntime::~DdeRuntime() { close(); }

void DdeRuntime::start() {
  Parts& p = *parts_;
  if (p.state.config.ENABLESERVERDDE != 1 || p.server) return;
  const std::string service = serviceName(p.state.iniFilePath, p.notices);
  p.server = std::make_unique<dde::DdeServer>(service, "System", p.transport, p.service, dde::steadyClock());
  std::string error;
  if (!p.transport.start(service, *p.server, error)) {
    p.server.reset();
    p.state.ddeChannel = 0;
    // Kelvor's own message window says it, as it always has; the journal gets the line.
    p.notices.note({NoticeKind::Warning, "DDE server", error});
    p.host.showMessage(wrapForMessage(error));
    return;
  }
  p.service.setServer(p.server.get());
  p.state.ddeChannel = 1;
}

void DdeRuntime::close() {
  Parts& p = *parts_;
  if (!p.server) return;
  p.transport.close();
  p.service.setServer(nullptr);
  p.server.reset();
  p.state.ddeChannel = 0;
}

void DdeRuntime::beforePoll() { parts_->service.tickBeforePoll(); }

void DdeRuntime::afterPoll() { parts_->service.tickAfterPoll(); }

}  // namespace kelvor
