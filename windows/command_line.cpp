#include "windows/command_line.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "core/i18n/shipped_languages.h"
#include "core/settings/file_commands.h"
#include "core/system/system.h"
#include "kelvor_build.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

constexpr int kUsage = 2;
constexpr int kUnusableFolder = 1;

const wchar_t kUsageLine[] = L"Kelvor.exe [--folder DIR | --user-folder] [--no-splash] [--help] [--version]";

// A window program has no console to print to: what it has to say goes into a box.
int say(const std::wstring& text, int status) {
  MessageBoxW(nullptr, text.c_str(), L"Kelvor", status == 0 ? MB_ICONINFORMATION : MB_ICONERROR);
  return status;
}

int usage(const std::wstring& problem) { return say(problem + L"\n\nUsage: " + kUsageLine, kUsage); }

std::wstring systemMessage(DWORD error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = text ? text : L"error " + std::to_wstring(error);
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return message;
}

// Documents\Kelvor, where the configurations saved from the file dialogs are easy to find.
std::wstring userFolder() {
  wchar_t* documents = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &documents)))
    folder = std::wstring(documents) + L"\\Kelvor";
  CoTaskMemFree(documents);
  return folder;
}

std::wstring programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/"));
}

// Copies the files of `from` matching `pattern` into `to`; an existing name is never replaced.
void copyShipped(const std::wstring& from, const std::wstring& pattern, const std::wstring& to) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((from + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring target = to.empty() ? found.cFileName : to + L"\\" + found.cFileName;
    CopyFileW((from + L"\\" + found.cFileName).c_str(), target.c_str(), TRUE);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// The first start in a folder: the language files and sounds beside Kelvor.exe are copied
// in. A program folder without them starts as in an empty folder.
void copyShippedFiles() {
  if (GetFileAttributesW(L"KELVOR.INI") != INVALID_FILE_ATTRIBUTES) return;
  const std::wstring shipped = programFolder();
  if (shipped.empty()) return;
  wchar_t here[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, here);
  // Started in the program's own folder (the portable zip): everything is already there.
  if (length > 0 && length < MAX_PATH && CompareStringOrdinal(here, -1, shipped.c_str(), -1, TRUE) == CSTR_EQUAL)
    return;
  copyShipped(shipped, L"*.lan", L"");
  if (GetFileAttributesW((shipped + L"\\sound").c_str()) == INVALID_FILE_ATTRIBUTES) return;
  CreateDirectoryW(L"sound", nullptr);
  copyShipped(shipped + L"\\sound", L"*.wav", L"sound");
}

// A folder the shipped files were just copied into starts ready to run: KELVOR.INI names the
// language file of the user's language (english.lan for one Kelvor has no file for) and a
// first configuration, so that no dialog stands in the way.
void seedShippedFolder() {
  if (GetFileAttributesW(L"english.lan") == INVALID_FILE_ATTRIBUTES) return;
  const std::string folder = currentDirectory();
  seedFirstStart(folder, folder + "\\" + firstLanguageFile(systemLanguage(), folder));
}

int enterFolder(const std::wstring& folder) {
  if (folder.empty()) return say(L"Kelvor cannot find the Documents folder.", kUnusableFolder);
  // SHCreateDirectoryExW wants a full path; it makes every missing folder on the way.
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return say(L"Kelvor cannot use the folder " + folder + L".", kUnusableFolder);
  const int made = SHCreateDirectoryExW(nullptr, full, nullptr);
  if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
    return say(L"Kelvor cannot create the folder " + std::wstring(full) + L": " + systemMessage(made) + L".",
               kUnusableFolder);
  const DWORD attributes = GetFileAttributesW(full);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return say(L"Kelvor cannot start in " + std::wstring(full) + L": it is not a folder.", kUnusableFolder);
  if (!SetCurrentDirectoryW(full))
    return say(L"Kelvor cannot start in " + std::wstring(full) + L": " + systemMessage(GetLastError()) + L".",
               kUnusableFolder);
  const bool fresh = GetFileAttributesW(L"KELVOR.INI") == INVALID_FILE_ATTRIBUTES;
  copyShippedFiles();
  if (fresh) seedShippedFolder();
  return 0;
}

}  // namespace

std::optional<int> takeCommandLine(StartOptions& options) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(words[i]);
  LocalFree(words);

  std::optional<std::wstring> folder;
  bool user = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& word = arguments[i];
    if (word == L"-h" || word == L"--help" || word == L"/?") {
      return say(std::wstring(L"Usage: ") + kUsageLine +
                     L"\n\nKelvor works in the folder it is started in: KELVOR.INI, the language file and "
                     L"the sounds are looked up there.\n\n"
                     L"--folder DIR: start in DIR (created if missing) as if started there; at the first start "
                     L"in it, the language files and sounds beside Kelvor.exe are copied into it.\n\n"
                     L"--user-folder: the same in " +
                     userFolder() + L", the folder of the Start-menu shortcut.\n\n"
                     L"--no-splash: start without the ten-second splash, so that DDE clients get an answer at "
                     L"once (the same as [STARTUP] SPLASH=0 in KELVOR.INI).\n\n"
                     L"The strip's three lamps show the line at work, not faults: green while Kelvor reads the "
                     L"port, red while bytes arrive from the instrument (data coming in, not an error), orange "
                     L"when a text has been sent to it. The menu's \"Serial devices\" window sets which port "
                     L"is COM1 ... COM8.",
                 0);
    }
    if (word == L"-v" || word == L"--version") return say(L"Kelvor " + toWide(KELVOR_VERSION), 0);
    if (word == L"--user-folder") {
      user = true;
    } else if (word == L"--no-splash") {
      options.noSplash = true;
    } else if (word == L"--folder" || word.starts_with(L"--folder=")) {
      if (folder) return usage(L"--folder is given more than once");
      if (word == L"--folder") {
        if (i + 1 == arguments.size()) return usage(L"--folder needs a DIR");
        folder = arguments[++i];
      } else {
        folder = word.substr(9);
      }
      if (folder->empty()) return usage(L"--folder needs a DIR");
    } else {
      return usage(L"Unexpected argument '" + word + L"'");
    }
  }
  if (folder && user) return usage(L"--folder and --user-folder exclude each other");
  if (folder) {
    if (const int status = enterFolder(*folder)) return status;
  } else if (user) {
    if (const int status = enterFolder(userFolder())) return status;
  }
  return std::nullopt;
}

}  // namespace kelvor
