#pragma once
// The key symbols that type a text, in the numbering every Linux desktop shares (X11 and
// xkbcommon keysyms): what the Wayland keyboards send or put into their keymaps.
//
// CR is Return and TAB is Tab; other control characters, and code points that Unicode has
// not assigned, type nothing and are left out. Characters with a symbol of their own keep it
// (the euro is EuroSign, as the layouts have it); any other character is its Unicode symbol.

#include <cstdint>
#include <string_view>
#include <vector>

namespace kelvor {

inline constexpr std::uint32_t kKeysymReturn = 0xFF0D;
inline constexpr std::uint32_t kKeysymTab = 0xFF09;
inline constexpr std::uint32_t kKeysymLeft = 0xFF51;
inline constexpr std::uint32_t kKeysymRight = 0xFF53;

std::vector<std::uint32_t> keysymsOf(std::string_view utf8);

}  // namespace kelvor
