#include "CustomCheckBox.h"

void CustomCheckBox::paint (juce::Graphics& g)
{
    g.setColour (juce::Colours::white);
    g.drawRect (juce::Rectangle<float> (0.0f, 0.0f, static_cast<float> (getWidth()), static_cast<float> (getHeight())), 1.0f);

    if (getToggleState())
    {
        constexpr int inset = 2;
        g.setColour (tickColour);
        g.fillRect (inset, inset, juce::jmax (0, getWidth() - 2 * inset), juce::jmax (0, getHeight() - 2 * inset));
    }
}
