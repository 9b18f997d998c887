#include "SevenSegDisplay.h"

#include "BinaryData.h"

namespace
{
    const juce::Colour kTactoraText { 0xFFDE4747 };
    const juce::Colour kTactoraPlate { 0xFF201412 };
    const juce::Colour kKlavoText { 0xFFFFFB4C };
    const juce::Colour kKlavoPlate { 0xFF585532 };
    const juce::Colour kPlainPlate { 0xFF1C1A1B }; // the editor's background
} // namespace

void SevenSegDisplay::RoundedCornerLabelLAF::drawLabel (juce::Graphics& g, juce::Label& label)
{
    g.setColour (label.findColour (juce::Label::backgroundColourId));
    g.fillRoundedRectangle (label.getLocalBounds().toFloat(), kCornerSize);

    const auto font = getLabelFont (label);
    g.setColour (label.findColour (juce::Label::textColourId));
    g.setFont (font);

    const auto area = getLabelBorderSize (label).subtractedFrom (label.getLocalBounds()).translated (kTextShift, 0);
    const int maxLines = juce::jmax (1, static_cast<int> (static_cast<float> (area.getHeight()) / font.getHeight()));
    g.drawFittedText (label.getText(), area, label.getJustificationType(), maxLines, label.getMinimumHorizontalScale());
}

SevenSegDisplay::SevenSegDisplay()
{
    setJustificationType (juce::Justification::centredRight);
    setBorderSize (juce::BorderSize<int> (0));
}

SevenSegDisplay::~SevenSegDisplay()
{
    setLookAndFeel (nullptr);
}

SevenSegDisplay::SharedTypeface::SharedTypeface()
    : typeface (juce::Typeface::createSystemTypefaceFor (BinaryData::DSEG7ClassicItalic_ttf,
                                                         static_cast<size_t> (BinaryData::DSEG7ClassicItalic_ttfSize)))
{
}

juce::Typeface::Ptr SevenSegDisplay::getSevenSegmentFont() const
{
    return sharedTypeface->typeface;
}

void SevenSegDisplay::setDeviceType (veltro::SharedMemory::device_type_enum type)
{
    juce::Font displayFont;

    // Compared unsigned so that "no device" (-1) gets the plain look.
    if (static_cast<unsigned> (type) <= static_cast<unsigned> (veltro::SharedMemory::klavo2))
    {
        setLookAndFeel (&roundedCornerLAF);
        displayFont = juce::Font (getSevenSegmentFont());
        const bool klavo = type == veltro::SharedMemory::klavo2;
        setColour (textColourId, klavo ? kKlavoText : kTactoraText);
        setColour (backgroundColourId, klavo ? kKlavoPlate : kTactoraPlate);
    }
    else
    {
        setLookAndFeel (nullptr);
        setColour (textColourId, juce::Colours::white);
        setColour (backgroundColourId, kPlainPlate);
    }

    displayFont.setHeight (kFontHeight);
    displayFont.setExtraKerningFactor (kKerning);
    setFont (displayFont);
}
