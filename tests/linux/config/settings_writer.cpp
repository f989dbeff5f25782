// Writes settings the way Kelvor does, over and over, for the kill test to kill at random
// moments: "save FILE [COUNT]" saves two configurations in turn, as "Save configuration as"
// does; "move FILE [COUNT]" writes window positions, as a window move does, with PosX equal
// to PosY so that a half-written position shows. Without COUNT it runs until killed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/settings/configuration.h"
#include "core/settings/file_commands.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (argc < 3 || (mode != "save" && mode != "move")) {
    std::fprintf(stderr, "usage: settings_writer save|move FILE [COUNT]\n");
    return 2;
  }
  const std::string file = argv[2];
  const long count = argc > 3 ? std::atol(argv[3]) : -1;
  kelvor::Configuration configurations[2];
  auto& [alpha, beta] = configurations;
  alpha.NAME = "ALPHA";
  alpha.BAUDRATE = 9600;
  alpha.FILESOUNDDDE = "/s.wav";
  beta.NAME = "BETA";
  beta.PORT = 1;
  beta.BAUDRATE = -27136;  // 38400
  beta.SOUNDENABLE = 1;
  beta.FILESOUNDKEY = "/a/longer/path/to/the/key/sound.wav";
  for (long i = 0; count < 0 || i < count; ++i) {
    if (mode == "save") {
      kelvor::saveConfiguration(configurations[i % 2], file);
    } else {
      // Positions of one to five digits, so that the file grows and shrinks.
      const int at = static_cast<int>((i * 7919) % 100000);
      kelvor::saveWindowPosition(file, at, at);
    }
  }
  return 0;
}
