#pragma once
// The standard open and save file dialogs, as every file command of the program uses them.
//
// The filter is one entry "label|pattern" ("*.KLV|*.KLV"); the pattern matches without regard
// to case, since Linux file names keep whatever case a Windows machine wrote them in. Paths
// are held whole. After a confirmed dialog the working directory is the folder of the chosen
// file, as later relative names ([LOAD(), sounds) expect. The main window's ticks and DDE
// events wait while a dialog is open.

#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace kelvor {

enum class FileDialogKind { Open, Save };

// The chosen path, or nothing when the user cancelled. The title is cut to 39 characters.
// An open dialog accepts only an existing file; a save dialog asks before replacing one and
// adds no extension of its own. A dialog opened from another window names it as `parent`, so
// that it shows above that window even when the window stays on top.
std::optional<std::string> chooseFile(FileDialogKind kind, std::string_view title, const std::string& proposedName,
                                      std::string_view filter, QWidget* parent = nullptr);

// "*.KLV" as a pattern that matches any case: "*.[kK][lL][vV]".
std::string caseInsensitivePattern(std::string_view pattern);

}  // namespace kelvor
