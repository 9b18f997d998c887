# Where JUCE comes from, and the one interface target that carries every JUCE
# switch so all of our JUCE targets agree on the configuration.
if(VELTRO_JUCE_SOURCE_DIR)
    add_subdirectory("${VELTRO_JUCE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/JUCE" EXCLUDE_FROM_ALL)
else()
    find_package(JUCE CONFIG REQUIRED)
endif()

add_library(veltro_juce_config INTERFACE)
target_compile_definitions(veltro_juce_config INTERFACE
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_VST3_CAN_REPLACE_VST2=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    JUCE_MODAL_LOOPS_PERMITTED=1)

# Debian's JUCE uses the system image libraries, which its package does not link.
function(veltro_link_juce_system_deps target)
    if(TARGET juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
        target_link_libraries(${target} PRIVATE juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
    endif()
endfunction()
