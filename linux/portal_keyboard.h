#pragma once
// The remote-desktop portal's keyboard: types on Wayland desktops that keep the virtual
// keyboard to themselves (GNOME, KDE), through org.freedesktop.portal.RemoteDesktop on the
// session bus.
//
// At the first use it asks the desktop for a remote-desktop session with a keyboard, in
// persist mode, so that the user approves once: the restore token the desktop returns is
// kept in KELVOR.INI ([PORTAL] RESTORETOKEN) and offered at the next start, when no
// question is asked. If the desktop turns a stored token down, the user is asked once more.
// Every step is a call whose answer comes later; meanwhile the keyboard is waiting() and
// the program goes on. Each character is then sent as its key symbol (press, release).
//
// A missing portal, a refusal, or a session the desktop ends make the keyboard unavailable,
// with problem() saying so in plain words.

#include <memory>
#include <string>

#include "core/keystrokes/keyboard_synth.h"

namespace kelvor {

std::unique_ptr<KeyboardSynth> openPortalKeyboard(const std::string& iniFilePath);

}  // namespace kelvor
