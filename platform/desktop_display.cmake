# Whether an X server is reachable for Kelvor's own windows. X11 types stay inside the .cpp.
add_library(kelvor_platform_display STATIC
  ${CMAKE_CURRENT_LIST_DIR}/desktop_display.cpp
)
target_link_libraries(kelvor_platform_display PRIVATE X11::X11)
