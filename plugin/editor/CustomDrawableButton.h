#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

// The gear button: a disc or a bar in the toggle colour with the drawing on
// top. It draws its image itself instead of the framework's image child.
class CustomDrawableButton : public juce::DrawableButton
{
public:
    enum Shape : int
    {
        round = 0,
        roundedRectangle = 1,
    };

    using juce::DrawableButton::DrawableButton;

    void paintButton (juce::Graphics& g, bool highlighted, bool down) override;
    void buttonStateChanged() override;

    std::function<void (bool)> onToggle;
    juce::Colour accentColour;
    int shape = round;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomDrawableButton)
};
