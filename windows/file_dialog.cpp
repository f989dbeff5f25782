#include "windows/file_dialog.h"

#include <commdlg.h>

#include <vector>

#include "core/system/system.h"
#include "core/toolkit/modal_gate.h"
#include "windows/text_convert.h"

namespace kelvor {
namespace {

// Long enough for any path Windows can open: paths are held whole, never cut.
constexpr DWORD kPathCapacity = 32768;
constexpr std::size_t kTitleCharacters = 39;

// "label|pattern" as the dialog wants it: "label\0pattern\0\0".
std::wstring dialogFilter(std::string_view filter) {
  const auto bar = filter.find('|');
  const std::string_view label = filter.substr(0, bar);
  const std::string_view pattern = bar == std::string_view::npos ? filter : filter.substr(bar + 1);
  std::wstring out = toWide(label);
  out += L'\0';
  out += toWide(pattern);
  out += L'\0';
  out += L'\0';
  return out;
}

}  // namespace

std::optional<std::string> chooseFile(HWND owner, FileDialogKind kind, std::string_view title,
                                      const std::string& proposedName, std::string_view filter) {
  std::wstring caption = toWide(title);
  if (caption.size() > kTitleCharacters) caption.resize(kTitleCharacters);
  const std::wstring patterns = dialogFilter(filter);
  const std::wstring folder = toWide(currentDirectory().empty() ? std::string("\\") : currentDirectory());
  std::wstring proposed = toWide(proposedName);
  for (wchar_t& c : proposed) {
    if (c == L'/') c = L'\\';
  }
  std::vector<wchar_t> path(kPathCapacity, L'\0');
  proposed.copy(path.data(), std::min<std::size_t>(proposed.size(), kPathCapacity - 1));

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = patterns.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = kPathCapacity;
  dialog.lpstrInitialDir = folder.c_str();
  dialog.lpstrTitle = caption.c_str();
  // No default extension: a name typed without one is used as typed.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST |
                 (kind == FileDialogKind::Save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);

  BOOL confirmed = FALSE;
  {
    ModalGate::Hold hold(modalGate());
    confirmed = kind == FileDialogKind::Save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  }
  if (!confirmed) return std::nullopt;
  const std::wstring chosen(path.data());
  // Relative names used later ([LOAD(, sounds) follow the folder of the chosen file.
  const auto separator = chosen.find_last_of(L"\\/");
  if (separator != std::wstring::npos) {
    std::wstring chosenFolder = chosen.substr(0, separator);
    if (chosenFolder.size() == 2 && chosenFolder[1] == L':') chosenFolder += L'\\';
    SetCurrentDirectoryW(chosenFolder.c_str());
  }
  return fromWide(chosen);
}

}  // namespace kelvor
