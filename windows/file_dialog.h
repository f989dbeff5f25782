#pragma once
// The file dialogs of the Win32 face: the system's own open and save dialogs
// (GetOpenFileNameW, GetSaveFileNameW), owned by the window they are opened from, so that
// they show above it even when it stays on top.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/system/file_dialog.h"

namespace kelvor {

// Closes the modal gate while the dialog is open. After a confirmed dialog the working folder
// is the chosen file's, whatever the system's dialog did with it.
std::optional<std::string> chooseFile(HWND owner, FileDialogKind kind, std::string_view title,
                                      const std::string& proposedName, std::string_view filter);

class Win32FileDialogs : public FileDialogs {
 public:
  explicit Win32FileDialogs(HWND owner = nullptr) : owner_(owner) {}
  void setOwner(HWND owner) { owner_ = owner; }
  std::optional<std::string> choose(FileDialogKind kind, std::string_view title, const std::string& proposedName,
                                    std::string_view filter) override {
    return chooseFile(owner_, kind, title, proposedName, filter);
  }

 private:
  HWND owner_;
};

}  // namespace kelvor
