#pragma once
// ConfigurationWindow on Windows: the modal, four-tab window in which the user edits every
// setting, from the dialog template IDD_CONFIGURATION (windows/kelvor.rc).
//
// Each control is bound to its field of the live `Configuration`: a change takes effect in
// memory as soon as the control accepts it. There is no OK or Cancel and nothing is saved
// here; the window closes through its close box or Escape, and its effect is the changed
// record. What is enabled when, and what an entry stores, are the core's rules
// (core/settings/configuration_window_rules.h), as on Linux.

#include <windows.h>

#include <functional>
#include <string>

#include "core/i18n/translate.h"
#include "core/settings/configuration.h"

namespace kelvor {

// Opens the window centred on the screen, modal over `owner`, with its texts from section
// `config` of the language file and the COM buttons' tooltips from [PORTS] of `iniFilePath`;
// returns when the user has closed it. The main window's ticks and DDE events wait meanwhile.
// `nameChanged` is called as the configuration's name changes, so that the strip shows the
// name being typed at once.
void openConfigurationWindow(HWND owner, Configuration& config, Language& language, const std::string& iniFilePath,
                             const std::function<void()>& nameChanged = {});

}  // namespace kelvor
