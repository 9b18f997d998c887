#include "StatusLED.h"

StatusLED::StatusLED (const juce::String& text, juce::Colour on, juce::Colour off)
    : currentColour (off), onColour (on), offColour (off)
{
    label.setText (text, juce::dontSendNotification);
    label.setColour (juce::Label::textColourId, juce::Colours::white);
    label.setJustificationType (juce::Justification::centred);
    addAndMakeVisible (label);
}

void StatusLED::paint (juce::Graphics& g)
{
    // Integer divisions on purpose: the dot sits centred in the upper half,
    // rounded toward the top-left for odd sizes.
    const int x = (getWidth() - kDotSize) / 2;
    const int y = (getHeight() / 2 - kDotSize) / 2;
    g.setColour (currentColour);
    g.fillEllipse (static_cast<float> (x), static_cast<float> (y), static_cast<float> (kDotSize), static_cast<float> (kDotSize));
}

void StatusLED::resized()
{
    const int half = getHeight() / 2;
    label.setBounds (0, half, getWidth(), half);
    if (label.getJustificationType() != juce::Justification::centred)
        label.setJustificationType (juce::Justification::centred);
}
