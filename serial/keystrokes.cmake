# Keystroke output: the plan (plain logic) and the delivery around it. The keyboard itself
# is the platform's (kelvor_platform_keyboard), handed in by the program.
add_library(kelvor_keystrokes STATIC
  ${CMAKE_CURRENT_LIST_DIR}/keystroke_plan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/keystroke_output.cpp
)
target_link_libraries(kelvor_keystrokes PRIVATE kelvor_toolkit_core)
