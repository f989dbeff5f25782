#pragma once
// OutputsWindow on Windows: where the user sets the reading log. It edits a copy of the
// settings; Save hands them on (the caller writes them to KELVOR.INI and puts them in force
// at once), Cancel, Escape or the close box drop them. It is not modal: reception and the
// DDE server go on while it is open. This build has no MQTT client, so the MQTT part is one
// line saying so, and the MQTT keys of KELVOR.INI are written back as they were read.

#include <functional>

#include "core/i18n/translate.h"
#include "core/outputs/output_settings.h"

namespace kelvor {

// Opens the window beside the strip, or brings the open one to the front. `save` is called
// with the settings when the user saves them.
void openOutputsWindow(const OutputSettings& settings, const Language& language,
                       std::function<void(const OutputSettings&)> save);

}  // namespace kelvor
