# The daemon application and its framework glue. The JUCE-free engine logic
# (veltro_daemon_engine) is defined in daemon/CMakeLists.txt.
set(VELTRO_DAEMON_DIR ${CMAKE_CURRENT_LIST_DIR}/../daemon)

# Everything of the daemon except its main(), with the JUCE modules it uses
# compiled once into the same static library: the application and the
# in-process glue tests both link it.
add_library(veltro_daemon_glue STATIC
    ${VELTRO_DAEMON_DIR}/AudioAndMIDIHandler.cpp
    ${VELTRO_DAEMON_DIR}/DefaultDeviceChoice.cpp
    ${VELTRO_DAEMON_DIR}/EngineLifecycle.cpp
    ${VELTRO_DAEMON_DIR}/MainAudioProcessor.cpp)
target_include_directories(veltro_daemon_glue PUBLIC ${VELTRO_DAEMON_DIR})
target_link_libraries(veltro_daemon_glue
    PUBLIC
        veltro_daemon_engine
        veltro_juce_config
    PRIVATE
        juce::juce_audio_utils
        juce::juce_recommended_config_flags)

# The pieces that differ by platform. Linux: device watch (inotify, JACK),
# libnotify, clean shutdown on signals. Elsewhere the framework's own device
# broadcasts and local notifications do.
set(VELTRO_DAEMON_PORTABLE_SOURCES
    ${VELTRO_DAEMON_DIR}/portable/AudioOutputWatch.cpp
    ${VELTRO_DAEMON_DIR}/portable/PushNotifier.cpp)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(VELTRO_LIBNOTIFY REQUIRED IMPORTED_TARGET libnotify)
    pkg_check_modules(VELTRO_DAEMON_JACK REQUIRED IMPORTED_TARGET jack)
    pkg_check_modules(VELTRO_AUDIO_FORMAT_LIBS REQUIRED IMPORTED_TARGET flac vorbis vorbisenc vorbisfile ogg)
    target_sources(veltro_daemon_glue PRIVATE
        ${VELTRO_DAEMON_DIR}/linux/AudioOutputWatch.cpp
        ${VELTRO_DAEMON_DIR}/linux/LibnotifyNotifier.cpp
        ${VELTRO_DAEMON_DIR}/linux/MessageThreadWakeUp.cpp
        ${VELTRO_DAEMON_DIR}/linux/TerminationSignals.cpp)
    target_compile_definitions(veltro_daemon_glue PUBLIC JUCE_JACK=1 JUCE_ALSA=1)
    target_link_libraries(veltro_daemon_glue PRIVATE
        PkgConfig::VELTRO_LIBNOTIFY PkgConfig::VELTRO_DAEMON_JACK PkgConfig::VELTRO_AUDIO_FORMAT_LIBS)

    # The other platforms' pieces are compiled here too (not linked), so a
    # change that breaks them shows on this machine.
    add_library(veltro_daemon_portable_check OBJECT ${VELTRO_DAEMON_PORTABLE_SOURCES})
    target_link_libraries(veltro_daemon_portable_check PRIVATE veltro_daemon_glue)
else()
    target_sources(veltro_daemon_glue PRIVATE ${VELTRO_DAEMON_PORTABLE_SOURCES})
    target_link_libraries(veltro_daemon_glue PRIVATE juce::juce_gui_extra)
endif()
veltro_link_juce_system_deps(veltro_daemon_glue)
# The modules are linked privately (their sources must not be compiled again
# by every user), so hand their headers and switches on explicitly.
target_compile_definitions(veltro_daemon_glue INTERFACE $<TARGET_PROPERTY:veltro_daemon_glue,COMPILE_DEFINITIONS>)
target_include_directories(veltro_daemon_glue INTERFACE $<TARGET_PROPERTY:veltro_daemon_glue,INCLUDE_DIRECTORIES>)

juce_add_gui_app(VeltroDaemon PRODUCT_NAME "Veltro Daemon" VERSION 1.3.0)
target_sources(VeltroDaemon PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../daemon/Main.cpp)
target_link_libraries(VeltroDaemon PRIVATE veltro_daemon_glue juce::juce_recommended_config_flags)
