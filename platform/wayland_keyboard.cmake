# Keyboard synthesis on wlroots compositors: the virtual-keyboard protocol. Its description
# (protocols/) is turned into client code by wayland-scanner; Wayland and xkbcommon types
# stay inside the .cpp.
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::WAYLAND_CLIENT)
  pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
endif()
if(NOT TARGET PkgConfig::XKBCOMMON)
  pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon)
endif()
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

set(vk_xml ${CMAKE_CURRENT_LIST_DIR}/protocols/virtual-keyboard-unstable-v1.xml)
set(vk_out ${CMAKE_CURRENT_BINARY_DIR}/protocols)
file(MAKE_DIRECTORY ${vk_out})
add_custom_command(
  OUTPUT ${vk_out}/virtual-keyboard-unstable-v1-client-protocol.h ${vk_out}/virtual-keyboard-unstable-v1-protocol.c
  COMMAND ${WAYLAND_SCANNER} client-header ${vk_xml} ${vk_out}/virtual-keyboard-unstable-v1-client-protocol.h
  COMMAND ${WAYLAND_SCANNER} private-code ${vk_xml} ${vk_out}/virtual-keyboard-unstable-v1-protocol.c
  DEPENDS ${vk_xml}
  VERBATIM)

add_library(kelvor_platform_wayland_keyboard STATIC
  ${CMAKE_CURRENT_LIST_DIR}/wayland_keyboard.cpp
  ${vk_out}/virtual-keyboard-unstable-v1-protocol.c
  ${vk_out}/virtual-keyboard-unstable-v1-client-protocol.h
)
target_include_directories(kelvor_platform_wayland_keyboard PRIVATE ${vk_out})
target_link_libraries(kelvor_platform_wayland_keyboard PRIVATE kelvor_platform_keysyms
  PkgConfig::WAYLAND_CLIENT PkgConfig::XKBCOMMON)
