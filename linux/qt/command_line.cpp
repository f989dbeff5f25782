#include "linux/qt/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStandardPaths>
#include <QStringList>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/i18n/shipped_languages.h"
#include "core/settings/file_commands.h"
#include "core/system/system.h"
#include "kelvor_build.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

constexpr int kUsage = 2;
constexpr int kUnusableFolder = 1;

const char kUsageLine[] = "kelvor [--folder DIR | --user-folder] [--no-splash] [--help] [--version]";

// Qt's "Unknown option 'x'." reads as part of the sentence.
int usage(QString problem) {
  if (problem.endsWith(u'.')) problem.chop(1);
  if (!problem.isEmpty()) problem[0] = problem[0].toLower();
  std::fprintf(stderr, "kelvor: %s (usage: %s)\n", problem.toLocal8Bit().constData(), kUsageLine);
  return kUsage;
}

int unusable(const std::string& text) {
  std::fprintf(stderr, "kelvor: %s\n", text.c_str());
  return kUnusableFolder;
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// The launcher's folder: "Kelvor" in the user's documents folder, where the configurations
// saved from the file dialogs are easy to find again.
QString userFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Kelvor");
}

void printHelp() {
  std::printf(
      "Usage: %s\n"
      "Bridges a measuring instrument on a serial line and the programs of the desktop: each\n"
      "reading becomes the value of the DDE server \"Kelvor\" (over D-Bus) or keystrokes typed\n"
      "into the window that has the focus.\n"
      "\n"
      "Kelvor works in the folder it is started in: KELVOR.INI, the language file and the sounds\n"
      "are looked up there.\n"
      "\n"
      "  --folder DIR    start in DIR (created if missing) as if started there; at the first\n"
      "                  start in it, the shipped language files and sounds are copied into it\n"
      "  --user-folder   the same in the per-user folder the desktop launcher uses,\n"
      "                  here %s\n"
      "  --no-splash     start without the ten-second splash, so that DDE clients get an\n"
      "                  answer at once (the same as [STARTUP] SPLASH=0 in KELVOR.INI)\n"
      "  -h, --help      print this text and exit\n"
      "  -v, --version   print the version and exit\n"
      "\n"
      "Exit status: 0 when the window has been closed, 1 when the folder cannot be used or no\n"
      "display is found, 2 on a usage error.\n"
      "\n"
      "The manual page kelvor(1) describes the working folder and its files, the menu and the\n"
      "DDE execute commands.\n",
      kUsageLine, userFolder().toLocal8Bit().constData());
}

// Creates the folders of path that are missing, outermost first. When one cannot be created
// the ones made before it are removed again, so a failure leaves nothing behind.
int makeFolder(const fs::path& folder) {
  std::error_code error;
  const fs::path absolute = fs::absolute(folder, error);
  if (error) return unusable("cannot find the folder " + quoted(folder) + ": " + error.message());
  std::vector<fs::path> made;
  fs::path prefix;
  for (const fs::path& part : absolute) {
    prefix /= part;
    if (part.empty() || part == "." || part == "..") continue;
    struct stat info {};
    if (::stat(prefix.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode))
        return unusable("cannot start in " + quoted(folder) + ": " + quoted(prefix) + " is a file, not a folder");
      continue;
    }
    int cause = errno;
    if (cause == ENOENT && ::mkdir(prefix.c_str(), 0777) == 0) {
      made.push_back(prefix);
      continue;
    }
    if (cause == ENOENT) cause = errno;
    for (auto it = made.rbegin(); it != made.rend(); ++it) ::rmdir(it->c_str());
    return unusable("cannot create the folder " + quoted(folder) + ": " + std::strerror(cause) + " (at " +
                    quoted(prefix) + ")");
  }
  return 0;
}

// A folder Kelvor cannot write to would lose the window position, the language choice and
// every saved configuration without a word, so it is refused at once. The probe is an
// unnamed temporary file: it shows read-only file systems too, and leaves nothing behind.
int checkWritable(const fs::path& folder) {
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return unusable("cannot start in " + quoted(folder) + ": the folder is not writable (" +
                    std::strerror(errno) + "), so settings and configurations could not be saved there");
  }
  const int probe = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (probe >= 0) {
    ::close(probe);
  } else if (errno == EROFS || errno == EACCES || errno == EPERM || errno == EDQUOT || errno == ENOSPC) {
    return unusable("cannot start in " + quoted(folder) + ": nothing can be written there (" + std::strerror(errno) +
                    ")");
  }
  return 0;
}

// Copies one shipped file; an existing name, whatever it is, is never replaced.
void copyFile(const fs::path& from, const fs::path& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (out < 0) {
    if (errno != EEXIST) std::fprintf(stderr, "kelvor: could not copy %s: %s\n", to.c_str(), std::strerror(errno));
    ::close(in);
    return;
  }
  char buffer[65536];
  bool failed = false;
  for (ssize_t n; !failed && (n = ::read(in, buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      failed = errno != EINTR;
      continue;
    }
    for (ssize_t done = 0; !failed && done < n;) {
      const ssize_t written = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
      if (written < 0 && errno != EINTR) failed = true;
      if (written > 0) done += written;
    }
  }
  if (::close(out) != 0) failed = true;
  ::close(in);
  if (failed) {
    std::fprintf(stderr, "kelvor: could not copy %s: %s\n", to.c_str(), std::strerror(errno));
    ::unlink(to.c_str());  // a cut sound or language file would be worse than none
  }
}

// The first start in a folder: the files shipped in share/kelvor/ beside the program's bin/
// (found from the program itself, so an install works wherever it was put) are copied in,
// every language file among them, so that the user can switch from the menu. A broken
// install without them starts as in an empty folder. A folder that was new or empty is made
// ready to run as well: the copied language file of the system's language (english.lan for
// one Kelvor has no file for) and a ready configuration are named in KELVOR.INI. A folder with files of its own gets only the missing shipped ones.
void copyShippedFiles() {
  std::error_code error;
  if (fs::exists("KELVOR.INI", error)) return;
  const bool wasEmpty = fs::is_empty(".", error) && !error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return;
  const fs::path shipped = program.parent_path() / KELVOR_SHIPPED_FROM_BIN;
  if (!fs::is_directory(shipped, error)) return;
  for (fs::recursive_directory_iterator it(shipped, error), end; !error && it != end; it.increment(error)) {
    const fs::path target = fs::relative(it->path(), shipped, error);
    if (error) return;
    if (it->is_directory(error)) {
      if (::mkdir(target.c_str(), 0777) != 0 && !fs::is_directory(target, error)) it.disable_recursion_pending();
    } else if (it->is_regular_file(error)) {
      copyFile(it->path(), target);
    }
  }
  if (wasEmpty && fs::is_regular_file(kEnglishLanguageFile, error)) {
    const std::string folder = currentDirectory();
    seedFirstStart(folder, folder + "/" + firstLanguageFile(systemLanguage(), folder));
  }
}

int enterFolder(const QString& name) {
  const fs::path folder = name.toLocal8Bit().toStdString();
  if (const int status = makeFolder(folder)) return status;
  if (const int status = checkWritable(folder)) return status;
  if (::chdir(folder.c_str()) != 0)
    return unusable("cannot start in " + quoted(folder) + ": " + std::strerror(errno));
  copyShippedFiles();
  return 0;
}

}  // namespace

std::optional<int> takeCommandLine(int argc, char* argv[], StartOptions& options) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);

  QCommandLineParser parser;
  // Qt's own options (-platform xcb, -display :1, ...) keep working: they are taken here
  // and left in place for the application object.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
  const QCommandLineOption folder(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
  const QCommandLineOption user(QStringLiteral("user-folder"));
  const QCommandLineOption noSplash(QStringLiteral("no-splash"));
  parser.addOptions({help, version, folder, user, noSplash});
  for (const char* qtOption : {"platform", "display", "style", "stylesheet", "platformtheme", "plugin",
                               "qwindowgeometry", "qwindowtitle", "qwindowicon", "session"}) {
    parser.addOption(QCommandLineOption(QString::fromLatin1(qtOption), QString(), QStringLiteral("VALUE")));
  }
  parser.addOption(QCommandLineOption(QStringLiteral("reverse")));

  if (!parser.parse(arguments)) return usage(parser.errorText());
  if (parser.isSet(help)) {
    printHelp();
    return 0;
  }
  if (parser.isSet(version)) {
    std::printf("kelvor %s\n", KELVOR_VERSION);
    return 0;
  }
  options.noSplash = parser.isSet(noSplash);
  if (!parser.positionalArguments().isEmpty())
    return usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
  if (parser.isSet(folder) && parser.isSet(user)) return usage(QStringLiteral("--folder and --user-folder exclude each other"));
  if (parser.values(folder).size() > 1) return usage(QStringLiteral("--folder is given more than once"));
  if (parser.isSet(folder)) {
    if (parser.value(folder).isEmpty()) return usage(QStringLiteral("--folder needs a DIR"));
    if (const int status = enterFolder(parser.value(folder))) return status;
  } else if (parser.isSet(user)) {
    if (const int status = enterFolder(userFolder())) return status;
  }
  return std::nullopt;
}

}  // namespace kelvor
