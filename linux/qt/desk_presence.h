#pragma once
// One Kelvor per working folder. Two programs in one folder would share KELVOR.INI, the
// reading log and the MQTT queue, and stack their strips; so the first start holds a name of
// the folder's own on the session bus, and a later start there asks the running one to bring
// its strip to the front and ends.

#include <QObject>
#include <functional>
#include <string>

namespace kelvor {

class DeskPresence : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kelvor.Desk")

 public:
  // Takes the folder for this program. False: another Kelvor has it, and has been asked to
  // show its strip. Without a session bus nobody can be asked, and the start goes on.
  bool claim(const std::string& workingFolder);

  // What a later start in the same folder asks for.
  std::function<void()> onRaise;

 public slots:
  void Raise();
};

}  // namespace kelvor
