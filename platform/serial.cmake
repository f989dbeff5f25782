# The serial library over POSIX termios (real ports, USB adapters, pseudo-terminals).
add_library(kelvor_platform_serial STATIC ${CMAKE_CURRENT_LIST_DIR}/termios_serial.cpp)
target_link_libraries(kelvor_platform_serial PRIVATE kelvor_platform kelvor_toolkit_core)
