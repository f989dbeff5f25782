#pragma once
// Text at the edge of Win32: Kelvor holds UTF-8 inside and talks to the wide (W) functions,
// and turns a system error code into the errno terms the core's seams speak.

#include <windows.h>

#include <string>
#include <string_view>

namespace kelvor {

std::wstring toWide(std::string_view utf8);
std::string fromWide(std::wstring_view wide);

// The errno value (ENOENT, EACCES, ENOSPC, ...) that says what a Win32 error code says.
int errnoOf(DWORD error);

}  // namespace kelvor
