#include "OverlayComponent.h"

void OverlayComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0x80808080));
    g.setColour (juce::Colours::white);
    g.setFont (juce::Font (static_cast<float> (getHeight()) * kTextHeightRatio));
    g.drawFittedText (text, getLocalBounds(), juce::Justification::centred, kMaxLines);
}
