#include "PluginEditor.h"

#include "PluginProcessor.h"

PluginAudioProcessorEditor::PluginAudioProcessorEditor (PluginAudioProcessor& p)
    : juce::AudioProcessorEditor (p), processor (p)
{
    statusLabel.setJustificationType (juce::Justification::centred);
    addAndMakeVisible (statusLabel);
    setSize (kWidth, kHeight);
    startTimer (100);
}

PluginAudioProcessorEditor::~PluginAudioProcessorEditor() = default;

void PluginAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
}

void PluginAudioProcessorEditor::resized()
{
    statusLabel.setBounds (getLocalBounds());
}

void PluginAudioProcessorEditor::timerCallback()
{
    statusLabel.setText ("Status " + juce::String (processor.getPluginStatus()) + ", "
                             + juce::String (processor.getDisplayTempo()) + " BPM",
                         juce::dontSendNotification);
}
