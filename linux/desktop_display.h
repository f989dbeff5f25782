#pragma once
// Which window system Kelvor's own windows can use: an X server (DISPLAY, also Xwayland on
// a Wayland desktop) keeps the strip's position and top-most rules; without one, Qt's
// Wayland platform does.

namespace kelvor {

// Whether the X server that DISPLAY names accepts a connection.
bool x11DisplayReachable();

// Whether the Wayland compositor that WAYLAND_DISPLAY names accepts a connection.
bool waylandDisplayReachable();

}  // namespace kelvor
