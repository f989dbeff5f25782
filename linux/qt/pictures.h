#pragma once
// Built-in pictures: a name that begins with "~" ("~bt_run.jpg", "~pok.ico") names a
// picture compiled into the program.

#include <QPixmap>
#include <string_view>

namespace kelvor {

// The built-in picture `name` ("~pok.ico" or "pok.ico"); a null pixmap when there is none.
QPixmap builtInPicture(std::string_view name);

}  // namespace kelvor
