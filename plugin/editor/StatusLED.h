#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A round light in the upper half with a caption in the lower half. The owner
// switches `currentColour` between `onColour` and `offColour`.
class StatusLED : public juce::Component
{
public:
    static constexpr int kDotSize = 15;

    StatusLED (const juce::String& text, juce::Colour on, juce::Colour off);

    void paint (juce::Graphics& g) override;
    void resized() override;

    juce::Label label;
    juce::Colour currentColour, onColour, offColour;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (StatusLED)
};
