#pragma once
// The X11 keyboard: types into the window that has the input focus through the XTest
// extension, as if the keys had been pressed on the keyboard.
//
// Each character becomes the key (and the Shift or AltGr it needs) that produces it in the
// current keymap and layout group. A character the keymap lacks is typed through a spare
// keycode mapped to it for the stroke and cleared again. Caps Lock, Num Lock and other locks
// are lifted while typing and restored afterwards; modifiers held at that moment are
// released first. The keymap is read once and read again only when the server says it
// changed (setxkbmap, a layout switch tool).

#include <memory>

#include "core/keystrokes/keyboard_synth.h"

namespace kelvor {

// Connects to the display DISPLAY names. Without an X display, or without the XTest and
// XKB extensions, the keyboard is not available() and types nothing.
std::unique_ptr<KeyboardSynth> openXTestKeyboard();

}  // namespace kelvor
