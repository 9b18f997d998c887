# The VST3 plug-in "Veltro". The plug-in code fixes the VST3 class id: never
# change it, or saved sessions lose the plug-in.
juce_add_plugin(Veltro
    PRODUCT_NAME "Veltro"
    COMPANY_NAME "Veltro"
    COMPANY_WEBSITE "https://veltro.invalid"
    COMPANY_EMAIL "support@veltro.invalid"
    VERSION 1.3.0
    PLUGIN_MANUFACTURER_CODE Manu
    PLUGIN_CODE Vltr
    FORMATS VST3
    IS_SYNTH TRUE
    NEEDS_MIDI_INPUT TRUE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    VST3_CATEGORIES Instrument Synth
    COPY_PLUGIN_AFTER_BUILD FALSE)

target_sources(Veltro PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/PluginProcessor.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PluginEditor.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/editor/SevenSegDisplay.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/editor/StatusLED.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/editor/OverlayComponent.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/editor/CustomCheckBox.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/editor/CustomDrawableButton.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/HostTypeMapping.cpp)

target_include_directories(Veltro PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

target_link_libraries(Veltro
    PRIVATE
        juce::juce_audio_utils
        juce::juce_audio_processors
        juce::juce_gui_basics
        veltro_juce_config
    PUBLIC
        VeltroBinaryData
        veltro_plugin_engine
        juce::juce_recommended_config_flags
        juce::juce_recommended_lto_flags
        juce::juce_recommended_warning_flags)

veltro_link_juce_system_deps(Veltro)

# The editor's resources. The artwork is our own, drawn by ArtworkGenerator.cpp
# (build `veltro_redraw_artwork` to draw it again); the seven-segment font is
# embedded from Debian's fonts-dseg at build time.
set(VELTRO_SEVEN_SEGMENT_FONT "/usr/share/fonts/truetype/dseg/DSEG7Classic-Italic.ttf"
    CACHE FILEPATH "DSEG7 Classic Italic, embedded as the tempo display's font")
if(NOT EXISTS "${VELTRO_SEVEN_SEGMENT_FONT}")
    message(FATAL_ERROR "The seven-segment font is missing (Debian package fonts-dseg): ${VELTRO_SEVEN_SEGMENT_FONT}")
endif()

set(VELTRO_RESOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/resources)
set(VELTRO_RESOURCES
    ${VELTRO_RESOURCE_DIR}/warning-sign.png
    ${VELTRO_RESOURCE_DIR}/gear.svg
    ${VELTRO_RESOURCE_DIR}/logo-tactora.png
    ${VELTRO_RESOURCE_DIR}/logo-klavo2.png
    ${VELTRO_RESOURCE_DIR}/logo-vantel.png
    ${VELTRO_SEVEN_SEGMENT_FONT})

juce_add_binary_data(VeltroBinaryData SOURCES ${VELTRO_RESOURCES})
# JUCE regenerates the resource code only when the list of files changes; make
# it follow their contents too.
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/juce_binarydata_VeltroBinaryData/JuceLibraryCode/BinaryData1.cpp
    APPEND DEPENDS ${VELTRO_RESOURCES})
# Linked into the plug-in's shared object, whose only exports are the VST3 entry points.
set_target_properties(VeltroBinaryData PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)

juce_add_console_app(veltro_artwork PRODUCT_NAME "veltro_artwork")
set_target_properties(veltro_artwork PROPERTIES EXCLUDE_FROM_ALL ON)
target_sources(veltro_artwork PRIVATE ${VELTRO_RESOURCE_DIR}/ArtworkGenerator.cpp)
target_link_libraries(veltro_artwork PRIVATE juce::juce_graphics veltro_juce_config juce::juce_recommended_config_flags)
veltro_link_juce_system_deps(veltro_artwork)
add_custom_target(veltro_redraw_artwork
    COMMAND veltro_artwork ${VELTRO_RESOURCE_DIR}
    DEPENDS veltro_artwork
    COMMENT "Drawing the editor artwork into ${VELTRO_RESOURCE_DIR}")
