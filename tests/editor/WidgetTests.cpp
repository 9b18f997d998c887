// The editor's widgets on their own: looks per model, the light's geometry,
// the gear button's painting and state hook, the check box and the overlay.

#include "BinaryData.h"
#include "editor/CustomCheckBox.h"
#include "editor/CustomDrawableButton.h"
#include "editor/OverlayComponent.h"
#include "editor/SevenSegDisplay.h"
#include "editor/StatusLED.h"

#include <gtest/gtest.h>

using veltro::SharedMemory;

namespace
{

juce::Image render (juce::Component& c)
{
    juce::Image image (juce::Image::ARGB, c.getWidth(), c.getHeight(), true);
    juce::Graphics g (image);
    c.paintEntireComponent (g, true);
    return image;
}

bool sameImages (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return false;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                return false;
    return true;
}

struct Look
{
    const juce::LookAndFeel* lookAndFeel;
    juce::Colour text, background;
    juce::String typeface;
    float height, kerning;

    bool operator== (const Look& o) const
    {
        return lookAndFeel == o.lookAndFeel && text == o.text && background == o.background && typeface == o.typeface
               && height == o.height && kerning == o.kerning;
    }
};

Look lookOf (SevenSegDisplay& d)
{
    return { &d.getLookAndFeel(), d.findColour (juce::Label::textColourId), d.findColour (juce::Label::backgroundColourId),
             d.getFont().getTypefaceName(), d.getFont().getHeight(), d.getFont().getExtraKerningFactor() };
}

TEST (SevenSegDisplayTest, StartsAsACentredRightLabelWithoutBorder)
{
    SevenSegDisplay d;
    EXPECT_EQ (d.getJustificationType(), juce::Justification::centredRight);
    EXPECT_EQ (d.getBorderSize(), juce::BorderSize<int> (0));
    EXPECT_TRUE (d.getText().isEmpty());
}

TEST (SevenSegDisplayTest, NoDeviceAndVantelShareThePlainLook)
{
    SevenSegDisplay none, vantel;
    none.setDeviceType (SharedMemory::invalid);
    vantel.setDeviceType (SharedMemory::vantel);

    const auto plain = lookOf (none);
    EXPECT_EQ (plain, lookOf (vantel));
    EXPECT_EQ (plain.lookAndFeel, &juce::LookAndFeel::getDefaultLookAndFeel());
    EXPECT_EQ (plain.text, juce::Colours::white);
    EXPECT_EQ (plain.background, juce::Colour (0xFF1C1A1B));
    EXPECT_EQ (plain.typeface, juce::Font().getTypefaceName());
    EXPECT_FLOAT_EQ (plain.height, 74.0f);
    EXPECT_FLOAT_EQ (plain.kerning, 0.18f);
}

TEST (SevenSegDisplayTest, ModelLooksAndTheWayBackFromThePlainOne)
{
    struct Case
    {
        SharedMemory::device_type_enum type;
        uint32_t text, background;
    };
    const Case cases[] = {
        { SharedMemory::tactora, 0xFFDE4747, 0xFF201412 },
        { SharedMemory::klavo2, 0xFFFFFB4C, 0xFF585532 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (static_cast<int> (c.type));
        SevenSegDisplay d;
        d.setDeviceType (c.type);
        const auto first = lookOf (d);
        EXPECT_EQ (first.lookAndFeel, &d.roundedCornerLAF);
        EXPECT_EQ (first.typeface, juce::String ("DSEG7 Classic"));
        EXPECT_EQ (d.getFont().getTypefaceStyle(), juce::String ("Italic"));
        EXPECT_EQ (first.text, juce::Colour (c.text));
        EXPECT_EQ (first.background, juce::Colour (c.background));
        EXPECT_FLOAT_EQ (first.height, 74.0f);

        d.setDeviceType (SharedMemory::vantel);
        EXPECT_NE (lookOf (d), first);
        d.setDeviceType (c.type);
        EXPECT_EQ (lookOf (d), first);
    }
}

TEST (SevenSegDisplayTest, TypefaceIsMadeOnceFromTheEmbeddedFont)
{
    SevenSegDisplay one, other;
    const auto a = one.getSevenSegmentFont();
    ASSERT_NE (a, nullptr);
    EXPECT_EQ (a.get(), other.getSevenSegmentFont().get());
    EXPECT_EQ (a->getName(), juce::String ("DSEG7 Classic"));
    // Every digit has a glyph of its own (a missing one would fall back to a box).
    juce::Array<int> glyphs;
    juce::Array<float> offsets;
    a->getGlyphPositions ("0123456789", glyphs, offsets);
    ASSERT_EQ (glyphs.size(), 10);
    for (int i = 1; i < glyphs.size(); ++i)
        EXPECT_NE (glyphs[i], glyphs[i - 1]);
}

TEST (SevenSegDisplayTest, RoundedLookFillsAPlateWithRoundCorners)
{
    SevenSegDisplay d;
    d.setDeviceType (SharedMemory::tactora);
    d.setSize (120, 60);
    const auto image = render (d);
    EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0) << "corner outside the rounding";
    EXPECT_EQ (image.getPixelAt (4, 30), juce::Colour (0xFF201412));
    EXPECT_EQ (image.getPixelAt (60, 2), juce::Colour (0xFF201412));
}

TEST (StatusLEDTest, DotSitsInTheUpperHalfWithIntegerDivisions)
{
    struct Case
    {
        int width, height, dotX, dotY;
    };
    const Case cases[] = {
        { 70, 50, 27, 5 },
        { 70, 51, 27, 5 }, // (25 - 15) / 2
        { 71, 53, 28, 5 }, // (26 - 15) / 2 = 5
        { 40, 70, 12, 10 },
        { 40, 41, 12, 2 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.width) + "x" + juce::String (c.height));
        StatusLED led ("LOCKED", juce::Colours::darkorange, juce::Colours::grey);
        led.currentColour = juce::Colours::red;
        led.label.setVisible (false);
        led.setSize (c.width, c.height);
        const auto image = render (led);

        // The dot's centre column and row are fully covered from its edges inward.
        const int cx = c.dotX + StatusLED::kDotSize / 2, cy = c.dotY + StatusLED::kDotSize / 2;
        EXPECT_GT (image.getPixelAt (cx, c.dotY).getAlpha(), 200);
        EXPECT_LT (image.getPixelAt (cx, c.dotY - 1).getAlpha(), 50);
        EXPECT_GT (image.getPixelAt (c.dotX, cy).getAlpha(), 200);
        EXPECT_LT (image.getPixelAt (c.dotX - 1, cy).getAlpha(), 50);

        EXPECT_EQ (led.label.getBounds(), juce::Rectangle<int> (0, c.height / 2, c.width, c.height / 2));
        EXPECT_EQ (led.label.getJustificationType(), juce::Justification::centred);
    }
}

TEST (StatusLEDTest, LabelIsAWhiteVisibleChild)
{
    StatusLED led ("LOCKED", juce::Colours::darkorange, juce::Colours::grey);
    EXPECT_EQ (led.label.getParentComponent(), &led);
    EXPECT_TRUE (led.label.isVisible());
    EXPECT_EQ (led.label.getText(), juce::String ("LOCKED"));
    EXPECT_EQ (led.label.findColour (juce::Label::textColourId), juce::Colours::white);
    EXPECT_EQ (led.currentColour, juce::Colours::grey);
    EXPECT_EQ (led.onColour, juce::Colours::darkorange);
}

std::unique_ptr<juce::Drawable> gearDrawing()
{
    return juce::Drawable::createFromImageData (BinaryData::gear_svg, static_cast<size_t> (BinaryData::gear_svgSize));
}

TEST (CustomDrawableButtonTest, GearDrawingIsOneBlackPathOfTheRightSize)
{
    auto gear = gearDrawing();
    ASSERT_NE (gear, nullptr);
    const juce::String svg (BinaryData::gear_svg, static_cast<size_t> (BinaryData::gear_svgSize));
    EXPECT_EQ (svg.indexOf ("<path"), svg.lastIndexOf ("<path"));
    EXPECT_TRUE (svg.contains ("width=\"5.94mm\"") && svg.contains ("height=\"5.95mm\""));
    EXPECT_TRUE (gear->getDrawableBounds().getWidth() > 0.0f);
}

TEST (CustomDrawableButtonTest, StateChangeSetsTheBackgroundAndReportsTheToggle)
{
    CustomDrawableButton button ("Gear Button", juce::DrawableButton::ImageFitted);
    button.accentColour = juce::Colour (0xFFDE4747);
    std::vector<bool> reported;
    button.onToggle = [&] (bool on) { reported.push_back (on); };

    // Also without notification: the editor sets the state that way.
    button.setToggleState (true, juce::dontSendNotification);
    EXPECT_EQ (button.findColour (juce::DrawableButton::backgroundColourId), juce::Colour (0xFFDE4747));
    button.setToggleState (false, juce::dontSendNotification);
    EXPECT_EQ (button.findColour (juce::DrawableButton::backgroundColourId), juce::Colour (0xFF808080));
    EXPECT_EQ (reported, (std::vector<bool> { true, false }));
}

TEST (CustomDrawableButtonTest, ShapesAndImages)
{
    auto gear = gearDrawing();
    auto white = gear->createCopy();
    white->replaceColour (juce::Colours::black, juce::Colours::white);

    struct Case
    {
        int shape, size;
        bool backgroundAtCentre; // the disc or bar is drawn
        bool imageDrawn;         // the image area (size - 20) is not empty
    };
    const Case cases[] = {
        { CustomDrawableButton::round, 40, true, true },
        { CustomDrawableButton::roundedRectangle, 40, true, true },
        { CustomDrawableButton::round, 19, true, false },
        { CustomDrawableButton::roundedRectangle, 16, true, false },
        { 7, 40, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.shape) + " at " + juce::String (c.size));
        CustomDrawableButton with ("Gear Button", juce::DrawableButton::ImageFitted);
        CustomDrawableButton without ("Gear Button", juce::DrawableButton::ImageFitted);
        with.setImages (gear.get(), white.get());
        for (auto* b : { &with, &without })
        {
            b->shape = c.shape;
            b->accentColour = juce::Colours::blue;
            b->setToggleState (true, juce::dontSendNotification);
            b->setSize (c.size, c.size);
        }
        EXPECT_EQ (with.getNumChildComponents(), 0) << "the button draws its image itself";

        const auto a = render (with), b = render (without);
        const int mid = c.size / 2;
        EXPECT_EQ (b.getPixelAt (mid, mid) == juce::Colours::blue, c.backgroundAtCentre);
        EXPECT_EQ (! sameImages (a, b), c.imageDrawn);
    }
}

TEST (CustomDrawableButtonTest, RoundShowsTheWhiteGearAndTheBarTheBlackOne)
{
    auto gear = gearDrawing();
    auto white = gear->createCopy();
    white->replaceColour (juce::Colours::black, juce::Colours::white);

    for (int shape : { CustomDrawableButton::round, CustomDrawableButton::roundedRectangle })
    {
        CustomDrawableButton button ("Gear Button", juce::DrawableButton::ImageFitted);
        button.setImages (gear.get(), white.get());
        button.shape = shape;
        button.setSize (40, 40);
        const auto image = render (button);
        int whitePixels = 0, blackPixels = 0;
        for (int y = 10; y < 30; ++y)
            for (int x = 10; x < 30; ++x)
            {
                const auto p = image.getPixelAt (x, y);
                whitePixels += p == juce::Colours::white;
                blackPixels += p == juce::Colours::black;
            }
        if (shape == CustomDrawableButton::round)
        {
            EXPECT_GT (whitePixels, 50);
            EXPECT_EQ (blackPixels, 0);
        }
        else
        {
            EXPECT_GT (blackPixels, 50);
            EXPECT_EQ (whitePixels, 0);
        }
    }
}

TEST (CustomCheckBoxTest, OutlineAlwaysAndTheFillWhenOn)
{
    CustomCheckBox box;
    box.tickColour = juce::Colour (0xFFFFFBCC);
    box.setSize (15, 15);

    auto off = render (box);
    EXPECT_EQ (off.getPixelAt (0, 7), juce::Colours::white);
    EXPECT_EQ (off.getPixelAt (7, 7).getAlpha(), 0);

    box.setToggleState (true, juce::dontSendNotification);
    auto on = render (box);
    EXPECT_EQ (on.getPixelAt (14, 7), juce::Colours::white);
    EXPECT_EQ (on.getPixelAt (7, 7), juce::Colour (0xFFFFFBCC));
    EXPECT_EQ (on.getPixelAt (2, 2), juce::Colour (0xFFFFFBCC));
    EXPECT_EQ (on.getPixelAt (1, 1).getAlpha(), 0) << "a gap between the outline and the fill";

    box.setSize (3, 3); // fill size clamps to zero instead of going negative
    EXPECT_NO_FATAL_FAILURE (render (box));
}

TEST (OverlayComponentTest, GreysOutAndWrapsLongTextOnAtMostFourLines)
{
    OverlayComponent overlay;
    overlay.setSize (500, 285);
    overlay.text = "Daemon is not running";
    const auto image = render (overlay);
    // Half-transparent grey (stored premultiplied, so allow one step of rounding).
    const auto corner = image.getPixelAt (3, 3);
    EXPECT_EQ (corner.getAlpha(), 0x80);
    EXPECT_NEAR (corner.getRed(), 0x80, 1);
    EXPECT_EQ (corner.getRed(), corner.getGreen());
    EXPECT_EQ (corner.getRed(), corner.getBlue());

    // The text sits in the middle: white pixels only around the centre row.
    bool whiteNearCentre = false, whiteAtTop = false;
    for (int x = 0; x < 500; ++x)
    {
        whiteNearCentre |= image.getPixelAt (x, 142).getBrightness() > 0.9f;
        whiteAtTop |= image.getPixelAt (x, 20).getBrightness() > 0.9f;
    }
    EXPECT_TRUE (whiteNearCentre);
    EXPECT_FALSE (whiteAtTop);

    juce::GlyphArrangement lines;
    const juce::Font font (285.0f * OverlayComponent::kTextHeightRatio);
    lines.addFittedText (font, juce::String::repeatedString ("a rather long warning ", 12), 0, 0, 500, 285,
                         juce::Justification::centred, OverlayComponent::kMaxLines);
    float top = 1e9f, bottom = -1e9f;
    for (auto& glyph : lines)
    {
        top = std::min (top, glyph.getBounds().getY());
        bottom = std::max (bottom, glyph.getBounds().getBottom());
    }
    EXPECT_LE (bottom - top, font.getHeight() * OverlayComponent::kMaxLines + 1.0f);
}

TEST (EmbeddedArtworkTest, LogosAndWarningSignHaveTheirFormats)
{
    struct Case
    {
        const char* data;
        int size, width, height;
    };
    const Case cases[] = {
        { BinaryData::logotactora_png, BinaryData::logotactora_pngSize, 1173, 81 },
        { BinaryData::logoklavo2_png, BinaryData::logoklavo2_pngSize, 1173, 81 },
        { BinaryData::logovantel_png, BinaryData::logovantel_pngSize, 1173, 81 },
        { BinaryData::warningsign_png, BinaryData::warningsign_pngSize, 240, 240 },
    };
    for (const auto& c : cases)
    {
        const auto* bytes = reinterpret_cast<const uint8_t*> (c.data);
        ASSERT_GT (c.size, 33);
        const auto be32 = [&] (int at) { return (bytes[at] << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3]; };
        EXPECT_EQ (be32 (16), c.width);
        EXPECT_EQ (be32 (20), c.height);
        const bool logo = c.width == 1173;
        EXPECT_EQ (bytes[24], logo ? 16 : 8) << "bit depth";
        EXPECT_EQ (bytes[25], logo ? 4 : 6) << "colour type: grey+alpha for logos, RGBA for the sign";

        const auto image = juce::ImageFileFormat::loadFrom (c.data, static_cast<size_t> (c.size));
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0) << "transparent around the drawing";
    }
}

} // namespace
