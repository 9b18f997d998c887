#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The warning face: greys out the window and shows one centred message. Being
// an ordinary component, it also keeps clicks away from the controls below.
class OverlayComponent : public juce::Component
{
public:
    static constexpr int kMaxLines = 4;
    static constexpr float kTextHeightRatio = 0.08f;

    void paint (juce::Graphics& g) override;

    juce::String text;

private:
    JUCE_LEAK_DETECTOR (OverlayComponent)
};
