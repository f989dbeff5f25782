// Prints the keyboard state the end-to-end typing test checks after typing: the locked
// modifiers and every key the server holds down. Usage: key_state  (on DISPLAY)
//   locked: lock mod2        (Caps Lock is "lock", Num Lock usually "mod2")
//   down:                    (keycodes held down, none expected)

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdio>

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  XkbStateRec state{};
  XkbGetState(display, XkbUseCoreKbd, &state);
  static const char* const names[] = {"shift", "lock", "control", "mod1", "mod2", "mod3", "mod4", "mod5"};
  std::printf("locked:");
  for (int bit = 0; bit < 8; ++bit)
    if (state.locked_mods & (1 << bit)) std::printf(" %s", names[bit]);
  char keys[32];
  XQueryKeymap(display, keys);
  std::printf("\ndown:");
  for (int keycode = 0; keycode < 256; ++keycode)
    if (keys[keycode / 8] & (1 << (keycode % 8))) std::printf(" %d", keycode);
  std::printf("\n");
  XCloseDisplay(display);
  return 0;
}
