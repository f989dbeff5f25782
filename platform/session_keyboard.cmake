# The choice of the session's keyboard among the platform's keyboards.
add_library(kelvor_platform_session_keyboard STATIC
  ${CMAKE_CURRENT_LIST_DIR}/session_keyboard.cpp
)
target_link_libraries(kelvor_platform_session_keyboard PRIVATE kelvor_keystrokes kelvor_platform_keyboard
  kelvor_platform_wayland_keyboard kelvor_platform_portal_keyboard)
