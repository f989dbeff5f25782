#include "linux/desktop_display.h"

#include <X11/Xlib.h>
#include <wayland-client.h>

#include <cstdlib>

namespace kelvor {

bool x11DisplayReachable() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  Display* display = XOpenDisplay(name);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

bool waylandDisplayReachable() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return false;
  wl_display_disconnect(display);
  return true;
}

}  // namespace kelvor
