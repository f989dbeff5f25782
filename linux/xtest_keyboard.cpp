#include "linux/xtest_keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/toolkit/encoding.h"

namespace kelvor {
namespace {

// A client learns of a remapped keycode from the MappingNotify that precedes the stroke,
// and looks the key up again when it handles the stroke; the mapping must still be in place
// by then. These pauses give the receiving program that time, before and after. A busy
// machine can hold a program back for tens of milliseconds: with 50 ms after the stroke an
// xterm got about one frame in fifty wrong, with 100 ms none in several hundred.
constexpr std::chrono::milliseconds kSpareSettleBefore{10};
constexpr std::chrono::milliseconds kSpareSettleAfter{100};
constexpr std::size_t kMaxSpareKeycodes = 8;

// Keys that only set a modifier while held, in order of preference. Lock keys and group
// switches are left out: pressing one would change the state instead of holding it.
constexpr std::array<KeySym, 14> kHoldingModifierKeys = {
    XK_Shift_L,   XK_Shift_R,   XK_ISO_Level3_Shift, XK_ISO_Level5_Shift, XK_Control_L,
    XK_Control_R, XK_Alt_L,     XK_Alt_R,            XK_Meta_L,           XK_Meta_R,
    XK_Super_L,   XK_Super_R,   XK_Hyper_L,          XK_Hyper_R};

// The key symbol that types a character: Return and Tab for CR and TAB, nothing for other
// control characters, the Latin-1 symbols for Latin-1, else the Unicode symbol.
KeySym keysymFor(char32_t c) {
  if (c == U'\r') return XK_Return;
  if (c == U'\t') return XK_Tab;
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return NoSymbol;
  if (c <= 0xFF) return c;
  return 0x01000000 | c;
}

// Layouts give the euro its legacy symbol rather than the Unicode one.
KeySym legacyKeysymFor(char32_t c) { return c == 0x20AC ? XK_EuroSign : NoSymbol; }

// Xlib's default error handler ends the process. A request of ours that the server refuses
// (a keymap that changed under us, say) must cost at most one keystroke, never the program;
// errors on other connections go to the handler that was there before.
Display* keyboardDisplay = nullptr;
XErrorHandler previousErrorHandler = nullptr;

int ignoreKeyboardErrors(Display* display, XErrorEvent* error) {
  if (display == keyboardDisplay) return 0;
  return previousErrorHandler ? previousErrorHandler(display, error) : 0;
}

class XTestKeyboard final : public KeyboardSynth {
 public:
  XTestKeyboard() {
    int eventBase = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion, reason = 0;
    display_ = XkbOpenDisplay(nullptr, &xkbEventBase_, &errorBase, &major, &minor, &reason);
    if (!display_) return;
    int xtestMajor = 0, xtestMinor = 0;
    if (!XTestQueryExtension(display_, &eventBase, &errorBase, &xtestMajor, &xtestMinor)) {
      XCloseDisplay(display_);
      display_ = nullptr;
      return;
    }
    keyboardDisplay = display_;
    previousErrorHandler = XSetErrorHandler(ignoreKeyboardErrors);
    const unsigned interest = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display_, XkbUseCoreKbd, interest, interest);
    // Our own key strokes must not wait for a grab another client holds on the server.
    XTestGrabControl(display_, True);
  }

  ~XTestKeyboard() override {
    if (xkb_) XkbFreeKeyboard(xkb_, 0, True);
    if (!display_) return;
    XCloseDisplay(display_);
    if (keyboardDisplay == display_) {
      XSetErrorHandler(previousErrorHandler);
      keyboardDisplay = nullptr;
    }
  }

  bool available() const override { return display_ != nullptr; }
  std::string name() const override { return "XTest (X11 windows)"; }

  void typeText(std::string_view utf8) override {
    if (!available()) return;
    Session session(*this);  // first, so that the keymap the symbols are chosen from is current
    std::vector<KeySym> symbols;
    for (const char32_t c : codePoints(utf8)) {
      const KeySym symbol = keysymFor(c);
      if (symbol == NoSymbol) continue;
      const KeySym legacy = legacyKeysymFor(c);
      symbols.push_back(legacy != NoSymbol && !strokes_.contains(symbol) ? legacy : symbol);
    }
    strike(symbols);
  }

  void pressRight() override { pressKey(XK_Right); }
  void pressLeft() override { pressKey(XK_Left); }

 private:
  struct Stroke {
    KeyCode keycode = 0;
    unsigned mods = 0;
  };

  // One call's worth of typing: held modifiers released and locks lifted at the start; at
  // the end nothing of ours stays pressed and the locks are as the user left them.
  class Session {
   public:
    explicit Session(XTestKeyboard& k) : k_(k) { k_.begin(lockedMods_); }
    ~Session() { k_.end(lockedMods_); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

   private:
    XTestKeyboard& k_;
    unsigned lockedMods_ = 0;
  };

  void pressKey(KeySym symbol) {
    if (!available()) return;
    Session session(*this);
    strike({symbol});
  }

  void begin(unsigned& lockedMods) {
    noticeKeymapChanges();
    XkbStateRec state{};
    XkbGetState(display_, XkbUseCoreKbd, &state);
    if (!xkb_ || state.group != group_) loadKeymap(state.group);

    releaseHeldModifiers();
    lockedMods = state.locked_mods;
    if (lockedMods) XkbLockModifiers(display_, XkbUseCoreKbd, lockedMods, 0);
    if (state.latched_mods) XkbLatchModifiers(display_, XkbUseCoreKbd, state.latched_mods, 0);
  }

  void end(unsigned lockedMods) {
    setMods(0);
    if (lockedMods) XkbLockModifiers(display_, XkbUseCoreKbd, lockedMods, lockedMods);
    XSync(display_, False);
  }

  // A modifier the user (or another program) holds would change what every key types.
  // XTest cannot lift a key held on the physical keyboard (the server keeps that device's
  // state), so what stays held there is still held afterwards without our help; keys that
  // another program pressed through XTest are released and stay released, since pressing
  // them again is how a key ends up stuck.
  void releaseHeldModifiers() {
    if (!xkb_) return;
    std::array<char, 32> keys{};
    XQueryKeymap(display_, keys.data());
    for (int keycode = xkb_->min_key_code; keycode <= xkb_->max_key_code; ++keycode) {
      const bool down = keys[keycode / 8] & (1 << (keycode % 8));
      if (down && xkb_->map->modmap[keycode]) XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
    }
  }

  // The keymap is read again only when the server reports a change that is not our own
  // spare keycode coming and going.
  void noticeKeymapChanges() {
    while (XPending(display_)) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == MappingNotify) {
        const XMappingEvent& m = event.xmapping;
        if (m.request != MappingKeyboard || !onlySpares(m.first_keycode, m.count)) keymapStale_ = true;
      } else if (event.type == xkbEventBase_) {
        const auto& any = reinterpret_cast<const XkbAnyEvent&>(event);
        if (any.xkb_type == XkbNewKeyboardNotify) {
          keymapStale_ = true;
        } else if (any.xkb_type == XkbMapNotify) {
          const auto& m = reinterpret_cast<const XkbMapNotifyEvent&>(event);
          const bool ours = !(m.changed & (XkbKeyTypesMask | XkbModifierMapMask)) &&
                            (!(m.changed & XkbKeySymsMask) || onlySpares(m.first_key_sym, m.num_key_syms));
          if (!ours) keymapStale_ = true;
        }
      }
    }
    if (keymapStale_ && xkb_) {
      XkbFreeKeyboard(xkb_, 0, True);
      xkb_ = nullptr;
    }
  }

  bool onlySpares(int first, int count) const {
    for (int keycode = first; keycode < first + count; ++keycode) {
      bool spare = false;
      for (const KeyCode s : spares_) spare = spare || s == keycode;
      if (!spare) return false;
    }
    return count > 0;
  }

  void loadKeymap(int group) {
    if (!xkb_) {
      xkb_ = XkbGetMap(display_, XkbAllClientInfoMask, XkbUseCoreKbd);
      keymapStale_ = false;
      findModifierKeys();
      findSpareKeycodes();
    }
    group_ = group;
    strokes_.clear();
    if (!xkb_) return;
    for (int keycode = xkb_->min_key_code; keycode <= xkb_->max_key_code; ++keycode) {
      const int g = groupOfKey(keycode, group);
      if (g < 0) continue;
      const XkbKeyTypePtr type = XkbKeyKeyType(xkb_, keycode, g);
      for (int level = 0; level < type->num_levels; ++level) {
        const KeySym symbol = XkbKeySymEntry(xkb_, keycode, level, g);
        unsigned mods = 0;
        if (symbol == NoSymbol || !modsForLevel(type, level, mods)) continue;
        const auto found = strokes_.find(symbol);
        if (found == strokes_.end() || std::popcount(mods) < std::popcount(found->second.mods))
          strokes_[symbol] = {static_cast<KeyCode>(keycode), mods};
      }
    }
  }

  // The layout group a key uses when `group` is active; keys with fewer groups wrap, clamp
  // or redirect as their own settings say.
  int groupOfKey(int keycode, int group) const {
    const int groups = XkbKeyNumGroups(xkb_, keycode);
    if (groups == 0) return -1;
    if (group < groups) return group;
    const unsigned char info = XkbKeyGroupInfo(xkb_, keycode);
    switch (XkbOutOfRangeGroupAction(info)) {
      case XkbRedirectIntoRange: {
        const int g = XkbOutOfRangeGroupNumber(info);
        return g < groups ? g : 0;
      }
      case XkbClampIntoRange:
        return groups - 1;
      default:
        return group % groups;
    }
  }

  // The modifiers to hold for a shift level: the fewest that the key type maps to it,
  // using only modifiers that a holding key can give (never a lock).
  bool modsForLevel(XkbKeyTypePtr type, int level, unsigned& mods) const {
    if (level == 0) {
      mods = 0;
      return true;
    }
    bool found = false;
    for (int i = 0; i < type->map_count; ++i) {
      const XkbKTMapEntryRec& entry = type->map[i];
      const unsigned mask = entry.mods.mask;
      if (!entry.active || entry.level != level || mask == 0 || !canHold(mask)) continue;
      if (!found || std::popcount(mask) < std::popcount(mods)) mods = mask;
      found = true;
    }
    return found;
  }

  bool canHold(unsigned mask) const {
    for (int bit = 0; bit < 8; ++bit)
      if ((mask & (1u << bit)) && modifierKeys_[bit] == 0) return false;
    return true;
  }

  void findModifierKeys() {
    modifierKeys_.fill(0);
    std::array<std::size_t, 8> rank;
    rank.fill(kHoldingModifierKeys.size());
    if (!xkb_) return;
    for (int keycode = xkb_->min_key_code; keycode <= xkb_->max_key_code; ++keycode) {
      const unsigned modmap = xkb_->map->modmap[keycode];
      if (!modmap || XkbKeyNumGroups(xkb_, keycode) == 0) continue;
      const KeySym symbol = XkbKeySymEntry(xkb_, keycode, 0, 0);
      std::size_t r = 0;
      while (r < kHoldingModifierKeys.size() && kHoldingModifierKeys[r] != symbol) ++r;
      for (int bit = 0; bit < 8; ++bit) {
        if ((modmap & (1u << bit)) && r < rank[bit]) {
          rank[bit] = r;
          modifierKeys_[bit] = static_cast<KeyCode>(keycode);
        }
      }
    }
  }

  // Keycodes without any symbol can carry a missing character for one stroke. The highest
  // ones are taken: they are the least likely to be a real key of the keyboard.
  void findSpareKeycodes() {
    spares_.clear();
    if (!xkb_) return;
    for (int keycode = xkb_->max_key_code; keycode >= xkb_->min_key_code && spares_.size() < kMaxSpareKeycodes;
         --keycode) {
      if (XkbKeyNumSyms(xkb_, keycode) == 0 && xkb_->map->modmap[keycode] == 0)
        spares_.push_back(static_cast<KeyCode>(keycode));
    }
  }

  void setMods(unsigned mods) {
    for (int bit = 0; bit < 8; ++bit) {
      const unsigned m = 1u << bit;
      if ((pressedMods_ & m) && !(mods & m)) XTestFakeKeyEvent(display_, modifierKeys_[bit], False, CurrentTime);
    }
    for (int bit = 0; bit < 8; ++bit) {
      const unsigned m = 1u << bit;
      if (!(pressedMods_ & m) && (mods & m)) XTestFakeKeyEvent(display_, modifierKeys_[bit], True, CurrentTime);
    }
    pressedMods_ = mods;
  }

  void tap(KeyCode keycode) {
    XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
    XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
  }

  // Types key symbols in order: those the keymap has as their key with its modifiers, runs
  // of missing ones through the spare keycodes.
  void strike(const std::vector<KeySym>& symbols) {
    std::vector<KeySym> missing;
    std::vector<KeySym> distinct;
    for (const KeySym symbol : symbols) {
      const auto found = strokes_.find(symbol);
      if (found != strokes_.end()) {
        typeMissing(missing, distinct);
        setMods(found->second.mods);
        tap(found->second.keycode);
        continue;
      }
      if (std::find(distinct.begin(), distinct.end(), symbol) == distinct.end()) {
        if (distinct.size() == spares_.size()) typeMissing(missing, distinct);
        distinct.push_back(symbol);
      }
      missing.push_back(symbol);
    }
    typeMissing(missing, distinct);
  }

  // Maps each distinct missing symbol onto its own spare keycode, types the run, and
  // clears the spares again, so the user's keymap is left as it was.
  void typeMissing(std::vector<KeySym>& missing, std::vector<KeySym>& distinct) {
    if (!missing.empty() && !spares_.empty()) {
      setMods(0);
      for (std::size_t i = 0; i < distinct.size(); ++i) {
        std::array<KeySym, 2> both = {distinct[i], distinct[i]};
        XChangeKeyboardMapping(display_, spares_[i], 2, both.data(), 1);
      }
      XSync(display_, False);
      std::this_thread::sleep_for(kSpareSettleBefore);
      for (const KeySym symbol : missing)
        tap(spares_[std::find(distinct.begin(), distinct.end(), symbol) - distinct.begin()]);
      XSync(display_, False);
      std::this_thread::sleep_for(kSpareSettleAfter);
      for (std::size_t i = 0; i < distinct.size(); ++i) {
        std::array<KeySym, 2> none = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(display_, spares_[i], 2, none.data(), 1);
      }
      XSync(display_, False);
    }
    missing.clear();
    distinct.clear();
  }

  Display* display_ = nullptr;
  int xkbEventBase_ = 0;
  XkbDescPtr xkb_ = nullptr;
  bool keymapStale_ = false;
  int group_ = -1;
  std::unordered_map<KeySym, Stroke> strokes_;
  std::array<KeyCode, 8> modifierKeys_{};
  std::vector<KeyCode> spares_;
  unsigned pressedMods_ = 0;
};

}  // namespace

std::unique_ptr<KeyboardSynth> openXTestKeyboard() { return std::make_unique<XTestKeyboard>(); }

}  // namespace kelvor
