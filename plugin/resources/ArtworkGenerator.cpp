// Draws the editor's artwork: the three model logos, the warning sign and the
// gear. The files it writes are committed next to this source; run the
// `veltro_artwork` target to draw them again after changing a design here.
//
//   veltro_artwork <output folder>

#include <juce_graphics/juce_graphics.h>

#include <cmath>
#include <cstdio>

namespace
{

constexpr int kLogoWidth = 1173;
constexpr int kLogoHeight = 81;
constexpr int kWarningSize = 240;
const juce::Colour kWarningRed { 0xFFDE4747 };

// ---- PNG writing for the logos -------------------------------------------
// JUCE only writes 8-bit PNGs; the logos are 16-bit grey with alpha, so they
// get a small writer of their own.

uint32_t crc32 (const uint8_t* data, size_t size, uint32_t crc = 0xFFFFFFFFu)
{
    for (size_t i = 0; i < size; ++i)
    {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void writeChunk (juce::OutputStream& out, const char* type, const juce::MemoryBlock& body)
{
    out.writeIntBigEndian (static_cast<int> (body.getSize()));
    juce::MemoryBlock typed (type, 4);
    typed.append (body.getData(), body.getSize());
    out.write (typed.getData(), typed.getSize());
    const auto crc = crc32 (static_cast<const uint8_t*> (typed.getData()), typed.getSize()) ^ 0xFFFFFFFFu;
    out.writeIntBigEndian (static_cast<int> (crc));
}

// White on transparent: every pixel is full white, the coverage goes into alpha.
bool writeGreyAlpha16 (const juce::Image& image, const juce::File& file)
{
    const int w = image.getWidth(), h = image.getHeight();
    juce::MemoryOutputStream raw;
    const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);

    for (int y = 0; y < h; ++y)
    {
        raw.writeByte (0); // filter: none
        for (int x = 0; x < w; ++x)
        {
            const auto alpha = static_cast<uint16_t> (pixels.getPixelColour (x, y).getAlpha() * 257);
            raw.writeShortBigEndian (static_cast<short> (0xFFFF));
            raw.writeShortBigEndian (static_cast<short> (alpha));
        }
    }

    juce::MemoryOutputStream compressed;
    {
        juce::GZIPCompressorOutputStream zip (compressed, 9);
        zip.write (raw.getData(), raw.getDataSize());
    }

    juce::MemoryOutputStream header;
    header.writeIntBigEndian (w);
    header.writeIntBigEndian (h);
    header.writeByte (16); // bit depth
    header.writeByte (4);  // colour type: grey with alpha
    header.writeByte (0);
    header.writeByte (0);
    header.writeByte (0);

    file.deleteFile();
    juce::FileOutputStream out (file);
    if (! out.openedOk())
        return false;

    const uint8_t signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    out.write (signature, sizeof (signature));
    writeChunk (out, "IHDR", header.getMemoryBlock());
    writeChunk (out, "IDAT", compressed.getMemoryBlock());
    writeChunk (out, "IEND", {});
    return true;
}

bool writeRgbaPng (const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    return out.openedOk() && png.writeImageToStream (image, out);
}

// ---- logos ----------------------------------------------------------------

juce::Typeface::Ptr loadLogoTypeface()
{
    // A fixed file keeps the drawing the same on every machine that has it.
    const juce::File file ("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");
    juce::MemoryBlock data;
    if (file.loadFileAsData (data))
        return juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());
    return juce::Font (juce::Font::getDefaultSansSerifFontName(), 10.0f, juce::Font::bold).getTypefacePtr();
}

// Word mark: the model name in wide bold capitals, slanted forward, with a
// mark drawn in front of it. `mark` draws into a square of the logo's height.
juce::Image drawLogo (const juce::String& name, juce::Typeface::Ptr face,
                      const std::function<void (juce::Path&, juce::Rectangle<float>)>& mark)
{
    juce::Image image (juce::Image::ARGB, kLogoWidth, kLogoHeight, true);
    juce::Graphics g (image);
    g.setColour (juce::Colours::white);

    const float h = static_cast<float> (kLogoHeight);
    juce::Path markPath;
    const juce::Rectangle<float> markArea (4.0f, 4.0f, h - 8.0f, h - 8.0f);
    mark (markPath, markArea);

    juce::Path text;
    juce::GlyphArrangement glyphs;
    const juce::Font font = juce::Font (face).withHeight (h * 0.92f).withExtraKerningFactor (0.22f);
    glyphs.addLineOfText (font, name, 0.0f, 0.0f);
    glyphs.createPath (text);

    const float textLeft = h + 26.0f;
    const auto target = juce::Rectangle<float> (textLeft, 6.0f, static_cast<float> (kLogoWidth) - textLeft - 8.0f, h - 12.0f);
    auto bounds = text.getBounds();
    const float scale = std::min (target.getHeight() / bounds.getHeight(), target.getWidth() / bounds.getWidth());
    text.applyTransform (juce::AffineTransform::translation (-bounds.getX(), -bounds.getY())
                             .scaled (scale)
                             .translated (textLeft, target.getY() + (target.getHeight() - bounds.getHeight() * scale) * 0.5f));
    // A forward lean around the baseline.
    text.applyTransform (juce::AffineTransform::shear (-0.18f, 0.0f).translated (0.18f * h, 0.0f));

    g.fillPath (markPath);
    g.fillPath (text);

    // A thin rule under the name, closing the mark off to the right.
    const auto textBounds = text.getBounds();
    g.fillRect (juce::Rectangle<float> (textBounds.getRight() + 14.0f, h - 9.0f,
                                        static_cast<float> (kLogoWidth) - textBounds.getRight() - 18.0f, 3.0f));
    return image;
}

void pulseMark (juce::Path& p, juce::Rectangle<float> r)
{
    // A ring with a beat dot in the middle.
    p.addEllipse (r);
    p.addEllipse (r.reduced (r.getWidth() * 0.12f));
    p.setUsingNonZeroWinding (false);
    p.addEllipse (r.withSizeKeepingCentre (r.getWidth() * 0.34f, r.getHeight() * 0.34f));
}

void keysMark (juce::Path& p, juce::Rectangle<float> r)
{
    // Three rising bars, like levels of a meter.
    const float w = r.getWidth() / 4.0f;
    for (int i = 0; i < 3; ++i)
    {
        const float barH = r.getHeight() * (0.45f + 0.275f * static_cast<float> (i));
        p.addRoundedRectangle (r.getX() + static_cast<float> (i) * w * 1.4f, r.getBottom() - barH, w, barH, w * 0.3f);
    }
}

void waveMark (juce::Path& p, juce::Rectangle<float> r)
{
    // One cycle of a thick sine.
    juce::Path wave;
    const int steps = 48;
    for (int i = 0; i <= steps; ++i)
    {
        const float t = static_cast<float> (i) / static_cast<float> (steps);
        const float x = r.getX() + t * r.getWidth();
        const float y = r.getCentreY() - std::sin (t * juce::MathConstants<float>::twoPi) * r.getHeight() * 0.38f;
        if (i == 0)
            wave.startNewSubPath (x, y);
        else
            wave.lineTo (x, y);
    }
    juce::PathStrokeType (r.getHeight() * 0.14f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded)
        .createStrokedPath (p, wave);
}

// ---- warning sign -----------------------------------------------------------

juce::Image drawWarningSign()
{
    juce::Image image (juce::Image::ARGB, kWarningSize, kWarningSize, true);
    juce::Graphics g (image);
    const float s = static_cast<float> (kWarningSize);

    juce::Path triangle;
    triangle.addTriangle (s * 0.5f, s * 0.08f, s * 0.95f, s * 0.9f, s * 0.05f, s * 0.9f);
    triangle = triangle.createPathWithRoundedCorners (s * 0.08f);
    g.setColour (kWarningRed);
    g.fillPath (triangle);

    g.setColour (juce::Colours::white);
    juce::Path bar;
    bar.addRoundedRectangle (s * 0.445f, s * 0.32f, s * 0.11f, s * 0.34f, s * 0.05f);
    g.fillPath (bar);
    g.fillEllipse (s * 0.44f, s * 0.71f, s * 0.12f, s * 0.12f);
    return image;
}

// ---- gear ---------------------------------------------------------------------

// One black path with eight teeth and a round hole (even-odd fill), in a box
// of 5.94 x 5.95 mm.
juce::String drawGearSvg()
{
    constexpr int teeth = 8;
    constexpr double cx = 2.97, cy = 2.975, outer = 2.9, root = 2.25, hole = 0.95;
    juce::String d;
    auto point = [&] (double radius, double angle) {
        return juce::String (cx + radius * std::cos (angle), 3) + "," + juce::String (cy + radius * std::sin (angle), 3);
    };

    const double step = juce::MathConstants<double>::twoPi / teeth;
    for (int i = 0; i < teeth; ++i)
    {
        const double a = i * step;
        // A tooth is slightly narrower at its tip than at its root.
        d << (i == 0 ? "M" : "L") << point (root, a - step * 0.30) << " "
          << "L" << point (outer, a - step * 0.20) << " "
          << "L" << point (outer, a + step * 0.20) << " "
          << "L" << point (root, a + step * 0.30) << " "
          << "A" << juce::String (root, 3) << "," << juce::String (root, 3) << " 0 0 1 " << point (root, a + step * 0.70) << " ";
    }
    d << "Z M" << point (hole, 0.0) << " A" << juce::String (hole, 3) << "," << juce::String (hole, 3) << " 0 1 0 "
      << point (hole, juce::MathConstants<double>::pi) << " A" << juce::String (hole, 3) << "," << juce::String (hole, 3)
      << " 0 1 0 " << point (hole, 0.0) << " Z";

    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"5.94mm\" height=\"5.95mm\" viewBox=\"0 0 5.94 5.95\">\n"
           "  <path fill=\"#000000\" fill-rule=\"evenodd\" d=\""
           + d.trim() + "\"/>\n</svg>\n";
}

} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: veltro_artwork <output folder>\n");
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juceInit;
    const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    folder.createDirectory();

    const auto face = loadLogoTypeface();
    bool ok = writeGreyAlpha16 (drawLogo ("TACTORA", face, pulseMark), folder.getChildFile ("logo-tactora.png"));
    ok = writeGreyAlpha16 (drawLogo ("KLAVO II", face, keysMark), folder.getChildFile ("logo-klavo2.png")) && ok;
    ok = writeGreyAlpha16 (drawLogo ("VANTEL", face, waveMark), folder.getChildFile ("logo-vantel.png")) && ok;
    ok = writeRgbaPng (drawWarningSign(), folder.getChildFile ("warning-sign.png")) && ok;
    ok = folder.getChildFile ("gear.svg").replaceWithText (drawGearSvg()) && ok;

    if (! ok)
        std::fprintf (stderr, "could not write the artwork into %s\n", folder.getFullPathName().toRawUTF8());
    return ok ? 0 : 1;
}
