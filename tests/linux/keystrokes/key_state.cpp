// Prints the keyboard state the end-to-end typing test checks after typing: the locked
// modifiers and every key the server holds down. Usage: key_state  (on DISPLAY)
// With --lock-group N it first makes layout group N the active one, as a layout switch
// key would.
//   locked: lock mod2        (Caps Lock is "lock", Num Lock usually "mod2")
//   down:                    (keycodes held down, none expected)
//   group: 1                 (the active layout group, from 0)

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  if (argc == 3 && std::strcmp(argv[1], "--lock-group") == 0) {
    XkbLockGroup(display, XkbUseCoreKbd, static_cast<unsigned>(std::atoi(argv[2])));
    XSync(display, False);
  }
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
  std::printf("\ngroup: %d\n", state.group);
  XCloseDisplay(display);
  return 0;
}
