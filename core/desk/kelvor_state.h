#pragma once
// The process-wide state: it exists once, lives for the whole run and belongs to no
// window. Every text starts blank and every number at 0. Only the application core holds
// the whole; it hands each subsystem the records it uses (the port's context, the DDE
// service's records), never the whole.

#include <cstdint>
#include <string>

#include "core/settings/configuration.h"
#include "core/dde/dde_service.h"
#include "core/i18n/translate.h"
#include "core/line/port_control.h"
#include "core/line/reception.h"
#include "core/toolkit/text.h"

namespace kelvor {

struct KelvorState {
  std::string iniFilePath;      // fixed at start-up, never recomputed
  // KELVOR.INI is there but could not be read at start-up: the folder is not a new one, so
  // nothing proposes a first start's choices (the language file).
  bool settingsUnreadable = false;
  Language language;            // languageFilePath, languageSection
  std::string touchSoundPath;   // "sound\touch.wav"
  std::string configFilePath;   // the current configuration file, held whole
  Configuration config;
  std::int32_t splashSeconds = 0;
  std::uint8_t zOrderMode = 0;  // 1 top-most, 2 not top-most and sent to the bottom
  dde::WaitRecord wait;         // a pending [WAITRS]: when it began, how long it has waited
  std::int32_t ddeChannel = 0;  // 0: no DDE server
  Reception reception;          // frame buffers, requestValue, isRunning, waitState, portWindowHandle

  PortContext portContext(SerialLibrary& library, Notices& notices) {
    return {config, language, reception, library, notices};
  }
  dde::ServiceRecords serviceRecords() { return {config, configFilePath, reception, wait}; }
};

}  // namespace kelvor
