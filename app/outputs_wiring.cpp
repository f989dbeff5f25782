#include "app/outputs_wiring.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QThread>

#include "outputs/outputs_window.h"

namespace kelvor {

void QueuedNotices::onUiThread(std::function<void()> call) {
  if (QThread::currentThread() == context_.thread()) return call();
  QMetaObject::invokeMethod(&context_, std::move(call), Qt::QueuedConnection);
}

// From another thread nothing may wait for the user, so a box that waits becomes one that
// does not.
void QueuedNotices::tell(const Notice& n) {
  if (QThread::currentThread() == context_.thread()) return target_.tell(n);
  onUiThread([this, n] { target_.mention(n); });
}
void QueuedNotices::mention(const Notice& n) {
  onUiThread([this, n] { target_.mention(n); });
}
void QueuedNotices::note(const Notice& n) {
  onUiThread([this, n] { target_.note(n); });
}

OutputsWiring::OutputsWiring(KelvorState& state, MainWindow& window, Notices& notices)
    : state_(state), window_(window), notices_(notices),
      hostName_(QSysInfo::machineHostName().toStdString()),
      workingFolder_(state.iniFilePath.substr(0, state.iniFilePath.rfind('/'))),
      queuedNotices_(notices) {
  publisher_ = std::make_unique<MosquittoPublisher>(queuedNotices_);
  outputs_ = std::make_unique<ReadingOutputs>(queuedNotices_, *publisher_, OutputsPlace{workingFolder_, hostName_});
  outputs_->apply(readOutputSettings(state.iniFilePath), state.config.NAME.trimmed());
  window.hooks.openOutputs = [this] { openWindow(); };
}

// The publisher says "offline" and ends its thread before the notices it uses go away.
OutputsWiring::~OutputsWiring() {
  window_.hooks.openOutputs = nullptr;
  outputs_.reset();
  publisher_.reset();
}

void OutputsWiring::deliver(const Text<2550>& currentFrame, const Configuration& config) {
  outputs_->deliver(config.NAME.trimmed(), config.PORT, currentFrame.trimmed(), state_.reception.rawFrame.trimmed());
}

void OutputsWiring::openWindow() {
  if (outputsWindow_) {
    outputsWindow_->raise();
    outputsWindow_->activateWindow();
    return;
  }
  const std::string name = state_.config.NAME.trimmed();
  const OutputDefaults defaults{clientId({}, hostName_, workingFolder_), topicPrefix({}, hostName_, name)};
  // Not modal, so reception and the DDE server go on while the user types.
  auto* window = new OutputsWindow(outputs_->settings(), state_.language, defaults, &window_);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->onSave = [this](const OutputSettings& settings) { save(settings); };
  outputsWindow_ = window;
  window->show();
}

void OutputsWiring::save(const OutputSettings& settings) {
  std::string error;
  if (!writeOutputSettings(state_.iniFilePath, settings, error)) {
    notices_.mention({NoticeKind::Error, "Reading log and MQTT",
                      "The settings cannot be saved in KELVOR.INI: " + error +
                          ". They are in force until Kelvor ends."});
  }
  outputs_->apply(settings, state_.config.NAME.trimmed());
}

}  // namespace kelvor
