#include "linux/session_keyboard.h"

#include <cstdlib>
#include <string_view>

#include "linux/portal_keyboard.h"
#include "linux/wayland_keyboard.h"
#include "linux/xtest_keyboard.h"

namespace kelvor {
namespace {

bool isSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

std::unique_ptr<ChosenKeyboard> openSessionKeyboard(const std::string& iniFilePath) {
  KeyboardCandidate xtest{"XTest (X11 windows)", [] { return openXTestKeyboard(); }, ""};
  if (!isSet("WAYLAND_DISPLAY")) return std::make_unique<ChosenKeyboard>(std::vector{xtest});

  xtest.fallbackNote =
      "Kelvor types readings through X11 instead, so only X11 (Xwayland) windows receive them, "
      "not the other windows of this Wayland desktop.";
  KeyboardCandidate better =
      waylandOffersVirtualKeyboard()
          ? KeyboardCandidate{"Wayland virtual keyboard (all windows)", [] { return openWaylandKeyboard(); }, ""}
          : KeyboardCandidate{"remote-desktop portal (all windows, asks the desktop at the first reading)",
                              [iniFilePath] { return openPortalKeyboard(iniFilePath); }, ""};
  return std::make_unique<ChosenKeyboard>(std::vector{better, xtest});
}

}  // namespace kelvor
