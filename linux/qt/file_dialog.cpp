#include "linux/qt/file_dialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "core/toolkit/modal_gate.h"
#include "linux/qt/exec_modal.h"

namespace kelvor {

std::string caseInsensitivePattern(std::string_view pattern) {
  std::string out;
  for (const char c : pattern) {
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (lower != upper) {
      out += '[';
      out += lower;
      out += upper;
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> chooseFile(FileDialogKind kind, std::string_view title, const std::string& proposedName,
                                      std::string_view filter, QWidget* parent) {
  const auto bar = filter.find('|');
  const std::string_view label = filter.substr(0, bar);
  const std::string_view pattern = bar == std::string_view::npos ? filter : filter.substr(bar + 1);

  QFileDialog dialog(parent, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())).left(39));
  // Without a parent it would open beneath the stay-on-top strip when the two overlap.
  if (parent == nullptr) dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setAcceptMode(kind == FileDialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(kind == FileDialogKind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilter(QString::fromStdString(std::string(label) + " (" + caseInsensitivePattern(pattern) + ")"));
  dialog.setDirectory(QDir::current());
  if (!proposedName.empty()) dialog.selectFile(QFile::decodeName(proposedName.c_str()));

  if (execModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString chosen = dialog.selectedFiles().first();
  QDir::setCurrent(QFileInfo(chosen).absolutePath());
  return QFile::encodeName(chosen).toStdString();
}

}  // namespace kelvor
