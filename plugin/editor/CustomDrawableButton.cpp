#include "CustomDrawableButton.h"

namespace
{
    constexpr int kImageInset = 10;
    constexpr int kDiscInset = 5;
    constexpr int kBarInsetX = 1;
    constexpr int kBarInsetY = 6;
    constexpr float kBarCorner = 5.0f;
} // namespace

void CustomDrawableButton::paintButton (juce::Graphics& g, bool, bool)
{
    const int w = getWidth(), h = getHeight();
    g.setColour (findColour (backgroundColourId));

    juce::Drawable* image = nullptr;
    if (shape == roundedRectangle)
    {
        g.fillRoundedRectangle (static_cast<float> (kBarInsetX), static_cast<float> (kBarInsetY),
                                static_cast<float> (juce::jmax (0, w - 2 * kBarInsetX)),
                                static_cast<float> (juce::jmax (0, h - 2 * kBarInsetY)), kBarCorner);
        image = getNormalImage();
    }
    else if (shape == round)
    {
        g.fillEllipse (static_cast<float> (kDiscInset), static_cast<float> (kDiscInset),
                       static_cast<float> (juce::jmax (0, w - 2 * kDiscInset)),
                       static_cast<float> (juce::jmax (0, h - 2 * kDiscInset)));
        image = getOverImage();
    }

    if (image != nullptr)
    {
        const juce::Rectangle<float> area (static_cast<float> (kImageInset), static_cast<float> (kImageInset),
                                           static_cast<float> (juce::jmax (0, w - 2 * kImageInset)),
                                           static_cast<float> (juce::jmax (0, h - 2 * kImageInset)));
        image->drawWithin (g, area, juce::RectanglePlacement::centred, 1.0f);
    }
}

void CustomDrawableButton::buttonStateChanged()
{
    setColour (backgroundColourId, getToggleState() ? accentColour : juce::Colour (0xFF808080));
    if (onToggle)
        onToggle (getToggleState());
}
