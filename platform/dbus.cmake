# The DDE server's transport on the D-Bus session bus (Qt D-Bus).
add_library(kelvor_platform_dbus STATIC
  ${CMAKE_CURRENT_LIST_DIR}/dbus_dde_transport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dbus_dde_transport.h
)
# libdbus itself only to lift the connection's receive limit (see dbus_dde_transport.cpp).
find_package(PkgConfig REQUIRED)
pkg_check_modules(DBUS1 REQUIRED IMPORTED_TARGET dbus-1)
target_link_libraries(kelvor_platform_dbus PRIVATE kelvor_dde kelvor_toolkit_core Qt6::Core Qt6::DBus PkgConfig::DBUS1)
