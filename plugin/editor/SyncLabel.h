#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A label that lights while the transport plays: the owner copies
// `currentColour` into its text colour.
class SyncLabel : public juce::Label
{
public:
    using juce::Label::Label;
    ~SyncLabel() override = default;

    juce::Colour currentColour, onColour, offColour;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SyncLabel)
};
