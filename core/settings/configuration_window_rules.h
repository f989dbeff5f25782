#pragma once
// The rules of the configuration window that do not need a screen: the auto-configuration
// toggle, the half-second rule that keeps "Buffer mode" and "Convert to only value" apart,
// what the entries store, and which device a COM button stands for. The window calls these;
// tests check them without a display.

#include <string>
#include <string_view>

#include "core/settings/configuration.h"

namespace kelvor {

// Flips `AUTO` between 0 and 1; any other value (from a hand-edited file) counts as set and
// becomes 0. Returns true when the line parameters are now fixed by the device, that is,
// when their controls must be disabled.
bool toggleAuto(Configuration& config);

// Whether the line-parameter controls (rate, parity, data bits, stop bits, flow control)
// are disabled for the current `AUTO`.
bool lineParametersLocked(const Configuration& config);

// The rule the window's 500 ms timer applies: while `BUFFERMODE` is 1, `ENABLECONVERTVALUE`
// cannot stay 1. Returns true when it cleared the flag (the window then redisplays).
bool applyBufferModeRule(Configuration& config);

// The value a three-digit entry stores for its text (digits only; empty gives 0).
std::int32_t entryNumber(std::string_view digits);

// Whether every character of the UTF-8 `typed` text has a Windows-1252 form. Text entries
// store their text in Windows-1252, the code page of the files and of the instruments on
// the line, one byte per character, so a field's capacity in characters is its capacity in
// bytes; they refuse characters that have no such form rather than store "?".
bool representableAsWindows1252(std::string_view typed);

}  // namespace kelvor
