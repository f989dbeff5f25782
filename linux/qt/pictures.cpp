#include "linux/qt/pictures.h"

#include <QString>

namespace kelvor {

QPixmap builtInPicture(std::string_view name) {
  if (!name.empty() && name.front() == '~') name.remove_prefix(1);
  return QPixmap(QStringLiteral(":/pictures/") + QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

}  // namespace kelvor
