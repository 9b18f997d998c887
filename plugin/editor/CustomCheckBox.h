#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A square box, filled with `tickColour` when on. The text sits in a label of
// the editor's own.
class CustomCheckBox : public juce::ToggleButton
{
public:
    void paint (juce::Graphics& g) override;

    juce::Colour tickColour;

private:
    JUCE_LEAK_DETECTOR (CustomCheckBox)
};
