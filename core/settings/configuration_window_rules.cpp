#include "core/settings/configuration_window_rules.h"

#include <algorithm>

#include "core/toolkit/encoding.h"
#include "core/toolkit/text.h"

namespace kelvor {

bool toggleAuto(Configuration& config) {
  config.AUTO = config.AUTO == 0 ? 1 : 0;
  return lineParametersLocked(config);
}

bool lineParametersLocked(const Configuration& config) { return config.AUTO != 0; }

bool applyBufferModeRule(Configuration& config) {
  if (config.BUFFERMODE != 1 || config.ENABLECONVERTVALUE != 1) return false;
  config.ENABLECONVERTVALUE = 0;
  return true;
}

std::int32_t entryNumber(std::string_view digits) {
  return keepWidth<std::int32_t>(readNumber(digits));
}

bool representableAsWindows1252(std::string_view typed) {
  // toWindows1252 writes "?" for what it cannot map: any "?" it adds marks such a character.
  const std::string bytes = toWindows1252(typed);
  return std::count(bytes.begin(), bytes.end(), '?') == std::count(typed.begin(), typed.end(), '?');
}

}  // namespace kelvor
