# The serial library over POSIX termios (real ports, USB adapters, pseudo-terminals), and
# the inotify watch that notices a device coming back, and the list of devices present.
add_library(kelvor_platform_serial STATIC
  ${CMAKE_CURRENT_LIST_DIR}/termios_serial.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inotify_device_watch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serial_devices.cpp
)
target_link_libraries(kelvor_platform_serial PRIVATE kelvor_platform kelvor_toolkit_core)
