#pragma once
// The file dialogs of the Qt face: Qt's own dialog (not the desktop's, whose filters and
// folders Kelvor cannot hold to its rules), with the pattern matched without regard to case.

#include <optional>
#include <string>
#include <string_view>

#include "core/system/file_dialog.h"

class QWidget;

namespace kelvor {

// A dialog opened from another window names it as `parent`, so that it shows above that
// window even when the window stays on top.
std::optional<std::string> chooseFile(FileDialogKind kind, std::string_view title, const std::string& proposedName,
                                      std::string_view filter, QWidget* parent = nullptr);

// "*.KLV" as a pattern that matches any case: "*.[kK][lL][vV]".
std::string caseInsensitivePattern(std::string_view pattern);

// The file commands' dialogs, opened above the stay-on-top strip.
class QtFileDialogs : public FileDialogs {
 public:
  std::optional<std::string> choose(FileDialogKind kind, std::string_view title, const std::string& proposedName,
                                    std::string_view filter) override {
    return chooseFile(kind, title, proposedName, filter);
  }
};

}  // namespace kelvor
