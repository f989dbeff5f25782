# Files for the outputs (the reading log, the MQTT queue on disk) over POSIX, and MQTT
# publishing over libmosquitto, the broker project's own client library.
add_library(kelvor_platform_files STATIC
  ${CMAKE_CURRENT_LIST_DIR}/append_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reading_queue.cpp
)
target_link_libraries(kelvor_platform_files PRIVATE Threads::Threads)

find_package(PkgConfig REQUIRED)
pkg_check_modules(MOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
add_library(kelvor_platform_mqtt STATIC ${CMAKE_CURRENT_LIST_DIR}/mosquitto_publisher.cpp)
target_link_libraries(kelvor_platform_mqtt PRIVATE kelvor_outputs_core kelvor_platform_files kelvor_toolkit
  PkgConfig::MOSQUITTO Threads::Threads)
