#pragma once
// OutputsWindow on Windows: where the user sets the desk's outputs, the reading log and MQTT
// publishing. It edits a copy of the settings; Save (or Enter) hands them on (the caller
// writes them to KELVOR.INI and puts them in force at once), Cancel, Escape or the close box
// drop them. It is not modal: reception and the DDE server go on while it is open. The
// password is shown masked; the broker's connection and the queue are shown every half
// second. Texts come from section "outputs" of the language file.

#include <functional>
#include <string>

#include "core/i18n/translate.h"
#include "core/outputs/output_settings.h"

namespace kelvor {

// What the empty client id and topic prefix stand for on this desk, shown in their fields.
struct OutputDefaults {
  std::string clientId;
  std::string topicPrefix;
};

struct OutputsWindowHooks {
  std::function<void(const OutputSettings&)> save;  // the user saved these settings
  std::function<std::string()> state;               // the broker's connection and the queue
};

// Opens the window beside the strip, or brings the open one to the front.
void openOutputsWindow(const OutputSettings& settings, const Language& language, const OutputDefaults& defaults,
                       OutputsWindowHooks hooks);

}  // namespace kelvor
