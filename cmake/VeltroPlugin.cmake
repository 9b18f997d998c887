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
    ${CMAKE_CURRENT_SOURCE_DIR}/HostTypeMapping.cpp)

target_include_directories(Veltro PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

target_link_libraries(Veltro
    PRIVATE
        juce::juce_audio_utils
        juce::juce_audio_processors
        juce::juce_gui_basics
        veltro_juce_config
    PUBLIC
        veltro_plugin_engine
        juce::juce_recommended_config_flags
        juce::juce_recommended_lto_flags
        juce::juce_recommended_warning_flags)

veltro_link_juce_system_deps(Veltro)
