#pragma once
// The desk's outputs in the running program: the reading log and MQTT publishing fed from
// the poll, their settings read from KELVOR.INI at start-up, and the menu's window that
// changes them while the program runs.

#include <QObject>
#include <QPointer>
#include <memory>

#include "app/kelvor_state.h"
#include "app/main_window.h"
#include "outputs/reading_outputs.h"
#include "platform/mosquitto_publisher.h"
#include "serial/reading_output.h"
#include "toolkit/notices.h"

namespace kelvor {

class OutputsWindow;

// Hands notices given on any thread to the user-interface thread, where the windows are.
class QueuedNotices : public Notices {
 public:
  explicit QueuedNotices(Notices& target) : target_(target) {}
  void tell(const Notice& n) override;
  void mention(const Notice& n) override;
  void note(const Notice& n) override;
  void showBusy(std::string_view text) override { target_.showBusy(text); }
  void closeBusy() override { target_.closeBusy(); }

 private:
  void onUiThread(std::function<void()> call);
  Notices& target_;
  QObject context_;  // queued calls die with it
};

class OutputsWiring : public ReadingOutput {
 public:
  OutputsWiring(KelvorState& state, MainWindow& window, Notices& notices);
  ~OutputsWiring() override;

  // A delivered reading, from the poll.
  void deliver(const Text<2550>& currentFrame, const Configuration& config) override;

 private:
  void openWindow();
  void save(const OutputSettings& settings);

  KelvorState& state_;
  MainWindow& window_;
  Notices& notices_;
  std::string hostName_;
  std::string workingFolder_;
  QueuedNotices queuedNotices_;
  std::unique_ptr<MosquittoPublisher> publisher_;
  std::unique_ptr<ReadingOutputs> outputs_;
  QPointer<OutputsWindow> outputsWindow_;
};

}  // namespace kelvor
