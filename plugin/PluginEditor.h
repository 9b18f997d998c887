#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include <juce_audio_processors/juce_audio_processors.h>

class PluginAudioProcessor;

// The plug-in's window: link state, tempo, device model and settings.
class PluginAudioProcessorEditor : public juce::AudioProcessorEditor, private juce::Timer
{
public:
    static constexpr int kWidth = 500;
    static constexpr int kHeight = 285;

    explicit PluginAudioProcessorEditor (PluginAudioProcessor& processor);
    ~PluginAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    void timerCallback() override;

    PluginAudioProcessor& processor;
    juce::Label statusLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginAudioProcessorEditor)
};
