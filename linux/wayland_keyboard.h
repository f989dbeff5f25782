#pragma once
// The Wayland virtual keyboard: types into the focused window on compositors that offer the
// virtual-keyboard protocol (zwp_virtual_keyboard_manager_v1: sway, Hyprland, river, labwc,
// Wayfire).
//
// The keyboard carries a keymap of its own, uploaded to the compositor, that holds exactly
// the characters it types (one key per character, one level, no modifier) plus Return, Tab
// and the arrows. So every character arrives whatever layout the user has chosen, and the
// user's Caps Lock, Num Lock and held modifiers, which belong to the user's own keyboard,
// change nothing. The keymap goes with every text (a 127-character reading holds at most
// 131 keys, well within the 248 keycodes a keymap has); the compositor takes requests in
// order, so no pause is needed after an upload.
//
// If the compositor goes away, the keyboard stops being available and says so once through
// its change handler; nothing is typed later.

#include <memory>

#include "core/keystrokes/keyboard_synth.h"

namespace kelvor {

// Whether the compositor that WAYLAND_DISPLAY names offers the virtual keyboard (false
// without a compositor).
bool waylandOffersVirtualKeyboard();

// Connects to the compositor that WAYLAND_DISPLAY names and creates a virtual keyboard on
// its first seat; not available() when that fails, with problem() saying why.
std::unique_ptr<KeyboardSynth> openWaylandKeyboard();

}  // namespace kelvor
