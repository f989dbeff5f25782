#pragma once
// Kelvor's command line, read before the window system starts so that --help and --version
// need no display: --folder DIR starts Kelvor in DIR exactly as if it had been started there,
// and --user-folder does the same in the per-user folder the desktop launcher uses. Such a
// folder is created when missing; at its first start (no KELVOR.INI yet) it receives the
// language file and sounds shipped in share/kelvor/ beside the installed program, without
// ever replacing a file. Started without these options, Kelvor works in the folder it was
// started in and copies nothing. --no-splash leaves the splash out.

#include <optional>

namespace kelvor {

// What the command line asks of the start-up beyond the folder.
struct StartOptions {
  bool noSplash = false;  // --no-splash: no splash, the strip and the DDE server at once
};

// Reads the options and enters the working folder they name. Returns the exit status when
// the program must end at once (0 after --help or --version, 1 when the folder cannot be
// used, 2 on a usage error; the message is already on the standard output or error), or
// nothing when the program goes on to start.
std::optional<int> takeCommandLine(int argc, char* argv[], StartOptions& options);

}  // namespace kelvor
