#pragma once
// The process-wide state: it exists once, lives for the whole run and belongs to no
// window. Every text starts blank and every number at 0. Subsystems take the parts they
// need by reference; only the application core holds the whole.

#include <cstdint>
#include <string>

#include "config/configuration.h"
#include "i18n/translate.h"
#include "serial/reception.h"
#include "toolkit/text.h"

namespace kelvor {

// The windows that can drive the port, as `portWindowHandle` names them.
enum PortWindowHandle : std::uint16_t {
  kMainWindowHandle = 1,
  kViewWindowHandle = 2,
  kTestWindowHandle = 3,
};

struct KelvorState {
  std::string iniFilePath;      // fixed at start-up, never recomputed
  Language language;            // languageFilePath, languageSection
  std::string touchSoundPath;   // "sound\touch.wav"
  std::string configFilePath;   // the current configuration file, held whole
  Configuration config;
  std::int32_t splashSeconds = 0;
  std::uint8_t zOrderMode = 0;  // 1 top-most, 2 not top-most and sent to the bottom
  std::int32_t waitStart = 0;   // hundredths of a second, when [WAITRS] began to wait
  std::int32_t elapsed = 0;     // hundredths of a second the pending request has waited
  std::int32_t ddeChannel = 0;  // 0: no DDE server
  std::uint16_t portWindowHandle = 0;
  Reception reception;          // frame buffers, requestValue, isRunning, waitState
};

}  // namespace kelvor
