#pragma once
// The standard open and save file dialogs, as every file command of the program uses them;
// each desk's face implements them with its own dialogs.
//
// The filter is one entry "label|pattern" ("*.KLV|*.KLV"); the pattern matches without regard
// to case, since file names keep whatever case another machine wrote them in. Paths are held
// whole. After a confirmed dialog the working directory is the folder of the chosen file, as
// later relative names ([LOAD(), sounds) expect. The main window's ticks and DDE events wait
// while a dialog is open.

#include <optional>
#include <string>
#include <string_view>

namespace kelvor {

enum class FileDialogKind { Open, Save };

class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  // The chosen path, or nothing when the user cancelled. The title is cut to 39 characters.
  // An open dialog accepts only an existing file; a save dialog asks before replacing one and
  // adds no extension of its own.
  virtual std::optional<std::string> choose(FileDialogKind kind, std::string_view title,
                                            const std::string& proposedName, std::string_view filter) = 0;
};

}  // namespace kelvor
