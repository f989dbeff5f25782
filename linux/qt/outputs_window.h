#pragma once
// OutputsWindow: where the user sets the desk's outputs, the reading log and MQTT publishing.
// It edits a copy of the settings; "Save" hands them on (the caller writes them to
// KELVOR.INI and puts them in force at once), "Cancel" or the close box drops them. It is
// not modal: reception and the DDE server go on while it is open. The password is shown
// masked. Texts come from section "outputs" of the language file.

#include <QDialog>
#include <functional>
#include <string>

#include "core/i18n/translate.h"
#include "core/outputs/output_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace kelvor {

// What the empty client id and topic prefix stand for on this desk, shown in their fields.
struct OutputDefaults {
  std::string clientId;
  std::string topicPrefix;
};

class OutputsWindow : public QDialog {
  Q_OBJECT

 public:
  OutputsWindow(const OutputSettings& settings, Language language, const OutputDefaults& defaults,
                QWidget* parent = nullptr);

  // The settings as the controls hold them.
  OutputSettings settings() const;

  // Called with the settings when the user saves them.
  std::function<void(const OutputSettings&)> onSave;

  // The broker's connection and the queue in a sentence, shown and kept up to date while
  // the window is open.
  void showState(std::function<std::string()> state);

 private:
  QString text(const char* key) const;
  void display(const OutputSettings& settings);
  void chooseCaFile();
  void enableFields();

  Language language_;
  QCheckBox* logEnable_ = nullptr;
  QLineEdit* logFolder_ = nullptr;
  QCheckBox* mqttEnable_ = nullptr;
  QLineEdit* host_ = nullptr;
  QSpinBox* port_ = nullptr;
  QLineEdit* clientId_ = nullptr;
  QLineEdit* topic_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* caFile_ = nullptr;
  QComboBox* qos_ = nullptr;
  QSpinBox* queue_ = nullptr;
  QLabel* state_ = nullptr;
  std::function<std::string()> stateText_;
};

}  // namespace kelvor
