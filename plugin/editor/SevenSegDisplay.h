#pragma once

#include "SharedMemory.h"

#include <juce_gui_basics/juce_gui_basics.h>

// The tempo display. Its colours and font follow the connected model: the two
// models with a seven-segment display of their own get the same look here.
class SevenSegDisplay : public juce::Label
{
public:
    static constexpr float kFontHeight = 74.0f;
    static constexpr float kKerning = 0.18f;

    // Fills a rounded plate and draws the text nudged right, without the
    // framework label's outline, dimming or editor look.
    class RoundedCornerLabelLAF : public juce::LookAndFeel_V4
    {
    public:
        static constexpr float kCornerSize = 10.0f;
        static constexpr int kTextShift = 6;

        void drawLabel (juce::Graphics& g, juce::Label& label) override;
    };

    SevenSegDisplay();
    ~SevenSegDisplay() override;

    void setDeviceType (veltro::SharedMemory::device_type_enum type);

    // The embedded seven-segment typeface, made once and shared while any
    // display exists. Not a static: a plug-in is unloaded with its statics
    // and JUCE would count a typeface still alive then as a leak.
    juce::Typeface::Ptr getSevenSegmentFont() const;

    RoundedCornerLabelLAF roundedCornerLAF;

private:
    struct SharedTypeface
    {
        SharedTypeface();
        juce::Typeface::Ptr typeface;
    };

    juce::SharedResourcePointer<SharedTypeface> sharedTypeface;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SevenSegDisplay)
};
