// Kelvor: bridges a measuring instrument on a serial line and the other programs of the
// desktop. Everything comes from KELVOR.INI in the working directory, the configuration file
// it names and the language file; the command line chooses that directory and whether the
// splash shows.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "linux/qt/command_line.h"
#include "linux/qt/startup.h"
#include "linux/desktop_display.h"
#include "linux/sound_output.h"
#include "core/diagnostics/repeat_bound.h"
#include "core/toolkit/sound.h"

namespace {

// Qt's own messages go to standard error as before, but bounded by cause: any program on the
// session bus can make Qt warn about a malformed call, as often as it likes. Messages come
// from Qt's bus thread too.
void boundedQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  static std::mutex mutex;
  static kelvor::RepeatBound bound;
  const std::string text = qFormatLogMessage(type, context, message).toStdString();
  {
    std::lock_guard<std::mutex> lock(mutex);
    const std::string line = bound.line(text);
    if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (type == QtFatalMsg) std::abort();
}

bool isSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

int main(int argc, char* argv[]) {
  kelvor::StartOptions options;
  if (const auto status = kelvor::takeCommandLine(argc, argv, options)) return *status;
  qInstallMessageHandler(boundedQtMessage);
  // Kelvor's windows go to an X server whenever one answers (Xwayland on a Wayland desktop
  // too), where the strip keeps its place and stays on top; with none, to the Wayland
  // compositor. A platform named in QT_QPA_PLATFORM is taken, unless it is one of these two and
  // its display does not answer: Qt would abort then.
  const std::string named = isSet("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
  const bool namedX11 = named.rfind("xcb", 0) == 0;
  const bool namedWayland = named.rfind("wayland", 0) == 0;
  if (named.empty() || (namedX11 && !kelvor::x11DisplayReachable()) ||
      (namedWayland && !kelvor::waylandDisplayReachable())) {
    if (!named.empty()) std::fprintf(stderr, "kelvor: QT_QPA_PLATFORM=%s: its display does not answer\n", named.c_str());
    if (kelvor::x11DisplayReachable()) {
      setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else if (kelvor::waylandDisplayReachable()) {
      setenv("QT_QPA_PLATFORM", "wayland", 1);
    } else {
      std::fputs(isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")
                     ? "Kelvor needs a graphical desktop, and the display that DISPLAY or WAYLAND_DISPLAY names "
                       "does not answer.\n"
                     : "Kelvor needs a graphical desktop, and none was found (neither DISPLAY nor WAYLAND_DISPLAY "
                       "is set).\n",
                 stderr);
      std::fputs("Start it from a desktop session, or under Xvfb for a test.\n", stderr);
      return 1;
    }
  }
  QApplication app(argc, argv);
  // Closing a modal window while the strip is hidden must not end the program: only the
  // main window's closing does.
  QApplication::setQuitOnLastWindowClosed(false);
  kelvor::setSoundOutput(kelvor::makeQtSoundOutput());
  return kelvor::runMainWindowProcedure(app, options);
}
