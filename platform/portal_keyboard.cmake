# Keyboard synthesis through the desktop's remote-desktop portal (GNOME, KDE), over Qt D-Bus.
add_library(kelvor_platform_portal_keyboard STATIC
  ${CMAKE_CURRENT_LIST_DIR}/portal_keyboard.cpp
)
target_link_libraries(kelvor_platform_portal_keyboard PRIVATE kelvor_platform kelvor_platform_keysyms
  Qt6::Core Qt6::DBus)
