# The key symbols of a text, shared by the Wayland keyboards. xkbcommon knows the symbols,
# Qt the Unicode character classes (which code points are assigned).
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::XKBCOMMON)
  pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon)
endif()
add_library(kelvor_platform_keysyms STATIC
  ${CMAKE_CURRENT_LIST_DIR}/keysym_text.cpp
)
target_link_libraries(kelvor_platform_keysyms PRIVATE kelvor_toolkit_core PkgConfig::XKBCOMMON Qt6::Core)
