#include "linux/wayland_keyboard.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "linux/keysym_text.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace kelvor {
namespace {

// Return, Tab and the arrows have their keys in every keymap, so that the plan's arrows and
// the text's line ends come from the same keyboard map as its characters.
constexpr std::array<std::uint32_t, 4> kFixedKeysyms = {kKeysymReturn, kKeysymTab, kKeysymRight, kKeysymLeft};

// Keycodes 9 to 255, less the fixed keys.
constexpr std::size_t kMaxTextKeys = 247 - kFixedKeysyms.size();

constexpr std::uint32_t kKeyReleased = 0;  // wl_keyboard.key_state
constexpr std::uint32_t kKeyPressed = 1;

// The globals a client needs: the first seat, and the virtual keyboard manager.
struct Globals {
  wl_seat* seat = nullptr;
  zwp_virtual_keyboard_manager_v1* manager = nullptr;
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
  auto* globals = static_cast<Globals*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat) {
    globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 && !globals->manager) {
    globals->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
  }
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void destroyGlobals(Globals& globals, wl_registry* registry) {
  if (globals.manager) zwp_virtual_keyboard_manager_v1_destroy(globals.manager);
  if (globals.seat) wl_seat_destroy(globals.seat);
  if (registry) wl_registry_destroy(registry);
  globals = {};
}

// The keymap text for keys 9, 10, ... (Linux key codes 1, 2, ...), one keysym each, on a
// single level that no modifier changes.
std::string keymapText(const std::vector<std::uint32_t>& keysyms) {
  std::string keycodes, symbols;
  for (std::size_t i = 0; i < keysyms.size(); ++i) {
    const std::string key = "<K" + std::to_string(i + 1) + ">";
    char name[64];
    if (xkb_keysym_get_name(keysyms[i], name, sizeof name) < 0) std::snprintf(name, sizeof name, "0x%x", keysyms[i]);
    keycodes += "  " + key + " = " + std::to_string(i + 9) + ";\n";
    symbols += "  key " + key + " { type = \"ONE_LEVEL\", [ " + name + " ] };\n";
  }
  return "xkb_keymap {\n"
         "xkb_keycodes \"kelvor\" {\n  minimum = 8;\n  maximum = " +
         std::to_string(std::max<std::size_t>(keysyms.size() + 8, 9)) + ";\n" + keycodes +
         "};\n"
         "xkb_types \"kelvor\" {\n  type \"ONE_LEVEL\" { modifiers = none; level_name[Level1] = \"Any\"; };\n};\n"
         "xkb_compatibility \"kelvor\" { };\n"
         "xkb_symbols \"kelvor\" {\n" +
         symbols + "};\n};\n";
}

std::uint32_t milliseconds() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch()).count());
}

class WaylandKeyboard final : public KeyboardSynth {
 public:
  WaylandKeyboard() {
    display_ = wl_display_connect(nullptr);
    if (!display_) {
      problem_ = "Kelvor found no Wayland compositor to type into.";
      return;
    }
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, &globals_);
    wl_display_roundtrip(display_);
    if (!globals_.manager || !globals_.seat) {
      problem_ = "This Wayland desktop does not offer the virtual keyboard Kelvor types with.";
      return;
    }
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals_.manager, globals_.seat);
    context_ = xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    // A compositor that does not allow Kelvor a keyboard says so with a protocol error.
    if (wl_display_roundtrip(display_) < 0 || !context_) {
      problem_ = "The Wayland compositor did not allow Kelvor a virtual keyboard.";
      lost_ = true;
    }
  }

  ~WaylandKeyboard() override {
    if (context_) xkb_context_unref(context_);
    if (!display_) return;
    if (keyboard_) {
      if (wl_display_get_error(display_) == 0) {
        zwp_virtual_keyboard_v1_destroy(keyboard_);
      } else {
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keyboard_));
      }
    }
    destroyGlobals(globals_, registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
  }

  bool available() const override { return keyboard_ != nullptr && !lost_; }
  std::string name() const override { return "Wayland virtual keyboard (all windows)"; }
  std::string problem() const override { return problem_; }

  void typeText(std::string_view utf8) override {
    if (!available()) return;
    const std::vector<std::uint32_t> keysyms = keysymsOf(utf8);
    readEvents();
    // A keymap has keycodes for 247 keys: a text of more different characters (never a
    // reading, which has at most 127) goes in runs, each with a keymap of its own.
    for (std::size_t begin = 0, end = 0; begin < keysyms.size() && available(); begin = end) {
      std::vector<std::uint32_t> run;
      for (end = begin; end < keysyms.size(); ++end) {
        if (std::find(run.begin(), run.end(), keysyms[end]) != run.end()) continue;
        if (run.size() == kMaxTextKeys) break;
        run.push_back(keysyms[end]);
      }
      if (!upload(run)) return;
      for (std::size_t i = begin; i < end; ++i) strike(keysyms[i]);
    }
    flush();
  }

  void pressRight() override { pressFixed(kKeysymRight); }
  void pressLeft() override { pressFixed(kKeysymLeft); }

 private:
  void pressFixed(std::uint32_t keysym) {
    if (!available()) return;
    readEvents();
    if (!upload({})) return;
    strike(keysym);
    flush();
  }

  // Uploads a keymap holding the fixed keys and those of `keysyms`. It is uploaded for every
  // text, even when the last one held the same keys: the compositor may have put its own
  // layout on this keyboard meanwhile (sway does, for every keyboard, when the user changes
  // the layout), and a client cannot see that happen.
  bool upload(const std::vector<std::uint32_t>& keysyms) {
    std::vector<std::uint32_t> keys(kFixedKeysyms.begin(), kFixedKeysyms.end());
    for (const std::uint32_t k : keysyms)
      if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);

    // Compiled here first: what the compositor and the receiving program get is a keymap
    // xkbcommon has accepted, in its own canonical form.
    xkb_keymap* keymap = xkb_keymap_new_from_string(context_, keymapText(keys).c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
      giveUp("Kelvor could not build a keyboard map for the characters of a reading.");
      return false;
    }
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    xkb_keymap_unref(keymap);
    const std::size_t size = std::strlen(text) + 1;
    const int fd = memfd_create("kelvor-keymap", MFD_CLOEXEC);
    const bool written = fd >= 0 && write(fd, text, size) == static_cast<ssize_t>(size);
    std::free(text);
    if (!written) {
      if (fd >= 0) close(fd);
      giveUp("Kelvor could not hand its keyboard map to the Wayland compositor.");
      return false;
    }
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<std::uint32_t>(size));
    close(fd);  // the request carries its own copy of the descriptor
    // Locks the compositor may have set on a new keyboard (xkb_capslock) would change what
    // the keys type: this keyboard has none.
    zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
    keys_ = std::move(keys);
    return true;
  }

  void strike(std::uint32_t keysym) {
    const auto at = std::find(keys_.begin(), keys_.end(), keysym);
    if (at == keys_.end()) return;
    const auto code = static_cast<std::uint32_t>(at - keys_.begin()) + 1;  // Linux key code: keymap's minus 8
    zwp_virtual_keyboard_v1_key(keyboard_, milliseconds(), code, kKeyPressed);
    zwp_virtual_keyboard_v1_key(keyboard_, milliseconds(), code, kKeyReleased);
  }

  // Takes in what the compositor sent without waiting, so that an error or a closed
  // connection is seen before anything more is typed.
  void readEvents() {
    while (wl_display_prepare_read(display_) != 0) wl_display_dispatch_pending(display_);
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&p, 1, 0) > 0) {
      wl_display_read_events(display_);
    } else {
      wl_display_cancel_read(display_);
    }
    wl_display_dispatch_pending(display_);
    if (wl_display_get_error(display_) != 0) lose();
  }

  // Sends what is queued; a full socket is waited on for a short while (the compositor reads
  // it at once unless it hangs).
  void flush() {
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (wl_display_flush(display_) >= 0) return;
      if (errno != EAGAIN) break;
      pollfd p{wl_display_get_fd(display_), POLLOUT, 0};
      poll(&p, 1, 20);
    }
    lose();
  }

  void lose() {
    giveUp("The Wayland compositor closed its connection to Kelvor, so readings are not typed any more.");
  }

  void giveUp(std::string why) {
    if (lost_) return;
    lost_ = true;
    problem_ = std::move(why);
    changed();
  }

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  Globals globals_;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  xkb_context* context_ = nullptr;
  std::vector<std::uint32_t> keys_;  // the keysym of Linux key code i + 1
  bool lost_ = false;
  std::string problem_;
};

}  // namespace

bool waylandOffersVirtualKeyboard() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return false;
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &globals);
  wl_display_roundtrip(display);
  const bool offered = globals.manager != nullptr && globals.seat != nullptr;
  destroyGlobals(globals, registry);
  wl_display_disconnect(display);
  return offered;
}

std::unique_ptr<KeyboardSynth> openWaylandKeyboard() { return std::make_unique<WaylandKeyboard>(); }

}  // namespace kelvor
