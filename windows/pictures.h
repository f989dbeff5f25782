#pragma once
// The pictures built into the program: the JPEG pictures as RCDATA resources, decoded with
// GDI+, and the icons as ICON resources. "~bt_run.jpg" names the resource BT_RUN_JPG,
// "~pok.ico" POK_ICO. Each picture is decoded once and kept for the life of the program.

#include <windows.h>

#include <string>

namespace kelvor {

// The resource name of a built-in picture ("~led_v.jpg" -> "LED_V_JPG").
std::wstring resourceName(const std::string& picture);

// A built-in JPEG picture as a bitmap; nullptr when there is none by that name.
HBITMAP builtInBitmap(const std::string& picture);
// A built-in icon at `size` pixels; nullptr when there is none by that name.
HICON builtInIcon(const std::string& picture, int size);

}  // namespace kelvor
