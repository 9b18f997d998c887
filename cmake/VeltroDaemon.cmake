# The daemon application and its framework glue. The JUCE-free engine logic
# (veltro_daemon_engine) is defined in daemon/CMakeLists.txt.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VELTRO_LIBNOTIFY REQUIRED IMPORTED_TARGET libnotify)
pkg_check_modules(VELTRO_DAEMON_JACK REQUIRED IMPORTED_TARGET jack)
pkg_check_modules(VELTRO_AUDIO_FORMAT_LIBS REQUIRED IMPORTED_TARGET flac vorbis vorbisenc vorbisfile ogg)

set(VELTRO_DAEMON_GLUE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../daemon/AudioAndMIDIHandler.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../daemon/DesktopNotifier.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../daemon/MainAudioProcessor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../daemon/linux/AudioOutputWatch.cpp)

# Adds the glue and everything it needs to a JUCE target (the application,
# or a test program that builds the same code).
function(veltro_add_daemon_glue target)
    target_sources(${target} PRIVATE ${VELTRO_DAEMON_GLUE_SOURCES})
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../daemon)
    target_compile_definitions(${target} PRIVATE JUCE_JACK=1 JUCE_ALSA=1)
    target_link_libraries(${target} PRIVATE
        veltro_daemon_engine
        juce::juce_audio_utils
        veltro_juce_config
        PkgConfig::VELTRO_LIBNOTIFY
        PkgConfig::VELTRO_DAEMON_JACK
        PkgConfig::VELTRO_AUDIO_FORMAT_LIBS
        juce::juce_recommended_config_flags)
    veltro_link_juce_system_deps(${target})
endfunction()

juce_add_gui_app(VeltroDaemon PRODUCT_NAME "Veltro Daemon" VERSION 1.3.0)
target_sources(VeltroDaemon PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../daemon/Main.cpp)
veltro_add_daemon_glue(VeltroDaemon)
