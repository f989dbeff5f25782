# Whether an X server or a Wayland compositor is reachable for Kelvor's own windows. X11 and
# Wayland types stay inside the .cpp.
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::WAYLAND_CLIENT)
  pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
endif()
add_library(kelvor_platform_display STATIC
  ${CMAKE_CURRENT_LIST_DIR}/desktop_display.cpp
)
target_link_libraries(kelvor_platform_display PRIVATE X11::X11 PkgConfig::WAYLAND_CLIENT)
