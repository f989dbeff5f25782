// Kelvor: bridges a measuring instrument on a serial line and the other programs of the
// desktop. Everything comes from KELVOR.INI in the working directory, the configuration file
// it names and the language file; the command line only chooses that directory.

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/startup.h"
#include "platform/qt_sound_output.h"
#include "toolkit/sound.h"

int main(int argc, char* argv[]) {
  if (const auto status = kelvor::takeCommandLine(argc, argv)) return *status;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0') &&
      (platform == nullptr || *platform == '\0')) {
    std::fputs("Kelvor needs a graphical desktop, and none was found (DISPLAY is not set).\n"
               "Start it from a desktop session, or under Xvfb for a test.\n",
               stderr);
    return 1;
  }
  QApplication app(argc, argv);
  // Closing a modal window while the strip is hidden must not end the program: only the
  // main window's closing does.
  QApplication::setQuitOnLastWindowClosed(false);
  kelvor::setSoundOutput(kelvor::makeQtSoundOutput());
  return kelvor::runMainWindowProcedure(app);
}
