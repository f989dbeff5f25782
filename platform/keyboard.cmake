# Keyboard synthesis for keystroke output: XTest on X11. X11 types stay inside the .cpp.
add_library(kelvor_platform_keyboard STATIC
  ${CMAKE_CURRENT_LIST_DIR}/xtest_keyboard.cpp
)
target_link_libraries(kelvor_platform_keyboard PRIVATE kelvor_toolkit_core X11::X11 X11::Xtst)
