# Keystroke output: the plan (plain logic), the delivery around it, and the choice of the
# session's keyboard among the platform's (kelvor_platform_keyboard and the Wayland ones,
# handed in by the program).
add_library(kelvor_keystrokes STATIC
  ${CMAKE_CURRENT_LIST_DIR}/keystroke_plan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/keystroke_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/keyboard_choice.cpp
)
target_link_libraries(kelvor_keystrokes PRIVATE kelvor_toolkit_core)
