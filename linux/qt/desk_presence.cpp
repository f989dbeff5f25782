#include "linux/qt/desk_presence.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include "core/desk/desk.h"

namespace kelvor {
namespace {

const QString kPath = QStringLiteral("/org/kelvor/Desk");
const QString kInterface = QStringLiteral("org.kelvor.Desk");
constexpr int kAskTimeoutMs = 5000;

}  // namespace

bool DeskPresence::claim(const std::string& workingFolder) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return true;
  // A bus name element may not begin with a digit.
  const QString name = kInterface + QStringLiteral(".f") + QString::fromStdString(deskKey(workingFolder));
  // The object first: a start that finds the name must find someone to ask behind it.
  bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
  if (bus.registerService(name)) return true;
  bus.unregisterObject(kPath);
  bus.call(QDBusMessage::createMethodCall(name, kPath, kInterface, QStringLiteral("Raise")), QDBus::Block,
           kAskTimeoutMs);
  return false;
}

void DeskPresence::Raise() {
  if (onRaise) onRaise();
}

}  // namespace kelvor
