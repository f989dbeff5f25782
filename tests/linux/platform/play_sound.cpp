// Plays one WAV file through the program's real sound output, then keeps the event loop
// running for the given number of milliseconds so that the playback can be observed.
// Usage: play_sound FILE [MILLISECONDS]

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>

#include "linux/sound_output.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return 2;
  const int milliseconds = argc > 2 ? std::atoi(argv[2]) : 1500;
  auto output = kelvor::makeQtSoundOutput();
  output->play(argv[1]);
  QTimer::singleShot(milliseconds, &app, &QCoreApplication::quit);
  return app.exec();
}
