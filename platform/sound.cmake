# Sound output through Qt Multimedia.
add_library(kelvor_platform_sound STATIC ${CMAKE_CURRENT_LIST_DIR}/qt_sound_output.cpp)
target_link_libraries(kelvor_platform_sound PRIVATE kelvor_toolkit Qt6::Core Qt6::Multimedia)
