#pragma once
// Kelvor.exe's command line, the same as on Linux: --folder DIR starts Kelvor in DIR exactly
// as if it had been started there, and --user-folder does the same in Documents\Kelvor, the
// folder the Start-menu shortcut uses. Such a folder is created when missing; at its first
// start (no KELVOR.INI yet) it receives the language files and sounds that lie beside
// Kelvor.exe, without ever replacing a file. Started without options, Kelvor works in the
// folder it was started in and copies nothing. --no-splash leaves the splash out.

#include <optional>

namespace kelvor {

// What the command line asks of the start-up beyond the folder.
struct StartOptions {
  bool noSplash = false;  // --no-splash: no splash, the strip and the DDE server at once
};

// Reads the options and enters the working folder they name. Returns the exit status when
// the program must end at once (0 after --help or --version, 1 when the folder cannot be
// used, 2 on a usage error; the message has been shown in a box), or nothing when the
// program goes on to start.
std::optional<int> takeCommandLine(StartOptions& options);

}  // namespace kelvor
