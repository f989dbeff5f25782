#pragma once
// AboutWindow on Windows: the captionless picture window with the product's name and
// tagline. At start-up it is the splash: runSplash shows it and returns once it has closed,
// after splashSeconds or at the first click, so the strip appears only then. From the menu
// it is the about box: openAboutWindow shows it without blocking, so the strip keeps
// polling and serving DDE while it is open; it stays until it is clicked. Both play the
// start sound. The display time is measured on a monotonic clock.

#include <cstdint>

namespace kelvor {

// Window class of both forms, for the tests that close it as a person would.
inline constexpr wchar_t kAboutClass[] = L"KelvorAbout";

// The splash at start-up: returns when it has closed. The modal gate is held meanwhile.
void runSplash(std::int32_t splashSeconds, std::uint8_t soundEnable);

// The about box from the menu: returns at once. One that is already open is brought to the
// front instead of opening a second one.
void openAboutWindow(std::int32_t splashSeconds, std::uint8_t soundEnable);

}  // namespace kelvor
