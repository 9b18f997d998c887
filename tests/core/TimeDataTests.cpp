#include "TimeData.h"

#include "EncoderRig.h"
#include "StreamDecoder.h"
#include "SyncCodes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace veltro
{
namespace
{

using TimeData::PlayheadPosition;

PlayheadPosition pos (uint32_t bar, uint32_t beat, uint32_t tick)
{
    PlayheadPosition p;
    p.bar = bar & 0x3FFFFu;
    p.beat = beat & 0xFFu;
    p.tick = static_cast<uint16_t> (tick & 0x3FFu);
    return p;
}

TEST (ComputeNextTickPos, FindsTheFirstTickAtOrAfterThePosition)
{
    struct Case
    {
        const char* what;
        double ppq, barStart;
        int qpb;
        double expectedPpq;
        uint32_t beat, tick;
    };

    const Case cases[] = {
        { "exactly on a bar start", 0.0, 0.0, 4, 0.0, 0, 0 },
        { "one ulp above 1.5 counts as 1.5", 1.5000000000000002, 0.0, 4, 1.5, 1, 384 },
        { "two ulps above 2.0 is past the tick", 2.0000000000000004, 0.0, 4, 1537.0 / 768.0, 2, 1 },
        { "1.001 rounds up", 1.001, 0.0, 4, 769.0 / 768.0, 1, 1 },
        { "relative to the bar start", 5.25, 4.0, 4, 5.25, 1, 192 },
        { "bar not begun yet: its start", 3.5, 4.0, 4, 4.0, 0, 0 },
        { "6/8 third beat", 2.5, 0.0, 3, 2.5, 2, 384 },
        { "7/8 last half quarter counts as beat 0", 3.0, 0.0, 3, 3.0, 0, 0 },
        { "7/8 last tick of the bar", 2687.0 / 768.0, 0.0, 3, 2687.0 / 768.0, 0, 383 },
        { "far from the bar start (beyond 32-bit ticks)", 6.0e6, 0.0, 4, 6.0e6, 0, 0 },
        { "a hair before a tick, beyond the tolerance", 1.0 - 1e-12, 0.0, 4, 1.0, 1, 0 },
    };

    for (const auto& c : cases)
    {
        PlayheadPosition next = pos (1234, 0, 0);
        const double result = TimeData::computeNextTickPos (c.ppq, c.barStart, c.qpb, next);
        EXPECT_DOUBLE_EQ (result, c.expectedPpq) << c.what;
        EXPECT_EQ (next.beat, c.beat) << c.what;
        EXPECT_EQ (next.tick, c.tick) << c.what;
        EXPECT_EQ (next.bar, 1234u) << c.what << ": the bar is left alone";
    }
}

TEST (ComputeNextTickPos, PreRollAndUnusablePositions)
{
    // Before the song start the first tick is the song start, with the bar reset.
    for (double ppq : { -0.5, -1e-300, -1e12, -std::numeric_limits<double>::infinity() })
    {
        PlayheadPosition next = pos (77, 2, 5);
        EXPECT_EQ (TimeData::computeNextTickPos (ppq, 0.0, 4, next), 0.0) << ppq;
        EXPECT_EQ (next.bar, 0u);
        EXPECT_EQ (next.beat, 0u);
        EXPECT_EQ (next.tick, 0u);
    }

    // No usable position or bar start: no tick is due at all.
    const double nan = std::nan ("");
    const double inf = std::numeric_limits<double>::infinity();
    const double bad[][2] = { { nan, 0.0 }, { inf, 0.0 }, { 1.0, nan }, { 1.0, inf }, { 1.0, -inf }, { 1e308, -1e308 } };
    for (const auto& b : bad)
    {
        PlayheadPosition next = pos (77, 2, 5);
        const double result = TimeData::computeNextTickPos (b[0], b[1], 4, next);
        EXPECT_FALSE (std::isfinite (result) && result < b[0]) << b[0] << " " << b[1];
        EXPECT_EQ (next.beat, 0u);
        EXPECT_EQ (next.tick, 0u);
    }
}

TEST (PlayheadPosition, AdvanceWrapsTickBeatAndBar)
{
    struct Case
    {
        PlayheadPosition from;
        int qpb;
        PlayheadPosition to;
    };

    const Case cases[] = {
        { pos (0, 0, 5), 4, pos (0, 0, 6) },
        { pos (0, 0, 767), 4, pos (0, 1, 0) },
        { pos (9, 3, 767), 4, pos (10, 0, 0) },
        { pos (9, 2, 767), 3, pos (10, 0, 0) },   // 6/8 and 7/8
        { pos (9, 5, 767), 3, pos (10, 0, 0) },   // a beat left over from a longer bar
        { pos (0x3FFFF, 0, 767), 1, pos (0, 0, 0) }, // the bar counter wraps at 18 bits
        { pos (4, 255, 767), 256, pos (4, 0, 0) }, // the 8-bit beat wraps without a bar
    };

    for (const auto& c : cases)
    {
        PlayheadPosition p = c.from;
        p.advanceByOneTick (c.qpb);
        EXPECT_EQ (p.bar, c.to.bar) << c.from.bar << "/" << c.from.beat << "/" << c.from.tick;
        EXPECT_EQ (p.beat, c.to.beat) << c.from.bar << "/" << c.from.beat << "/" << c.from.tick;
        EXPECT_EQ (p.tick, c.to.tick) << c.from.bar << "/" << c.from.beat << "/" << c.from.tick;
    }
}

TEST (PlayheadPosition, DifferenceIsFoldedIntoHalfABarEitherWay)
{
    struct Case
    {
        PlayheadPosition from, to;
        int qpb;
        int expected;
    };

    const Case cases[] = {
        { pos (0, 0, 0), pos (0, 0, 5), 4, 5 },
        { pos (0, 0, 5), pos (0, 0, 0), 4, -5 },
        { pos (3, 3, 766), pos (3, 0, 2), 4, 4 },   // ahead across the bar line
        { pos (3, 0, 1), pos (3, 3, 767), 4, -2 },  // behind across the bar line
        { pos (0, 0, 0), pos (0, 2, 0), 4, 1536 },  // exactly half a bar stays positive
        { pos (0, 0, 0), pos (0, 2, 1), 4, -1535 },
        { pos (0, 0, 0), pos (0, 2, 0), 3, -768 },  // 6/8
        { pos (7, 1, 0), pos (2, 1, 0), 4, 0 },     // the bar is ignored
    };

    for (const auto& c : cases)
        EXPECT_EQ (c.from.computeDifference (c.to, c.qpb), c.expected)
            << c.from.beat << "/" << c.from.tick << " -> " << c.to.beat << "/" << c.to.tick << " qpb " << c.qpb;
}

TEST (QuartersPerBar, TruncatesAndStaysUsableForAnyTimeSignature)
{
    struct Case
    {
        int numerator, denominator, expected;
    };

    const Case cases[] = {
        { 4, 4, 4 }, { 6, 8, 3 }, { 7, 8, 3 }, { 7, 4, 7 }, { 12, 8, 6 }, { 3, 8, 1 },
        { 1, 8, 1 },            // half a quarter still needs one beat
        { 4, 0, 4 }, { 0, 4, 4 }, { -3, 4, 4 }, { 4, -4, 4 }, { 0, 0, 4 }, // nonsense counts as 4/4
        { INT_MAX, 1, 256 },    // the beat has 8 bits
        { INT_MAX, INT_MAX, 4 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (TimeData::quartersPerBar (c.numerator, c.denominator), c.expected) << c.numerator << "/" << c.denominator;
}

TEST (PositionWords, RoundTripThroughTheDecoderAndWrapAroundTheRing)
{
    const PlayheadPosition positions[] = { pos (0, 0, 0), pos (0x3FFFF, 255, 767), pos (0x2ABCD, 6, 700), pos (63, 3, 1) };

    for (const auto& p : positions)
    {
        for (int index = 0; index < 5; ++index)
        {
            uint16_t ring[5] {};
            TimeData::savePlayheadPositionIntoFIFO (p, ring, index, 5);

            const uint16_t inOrder[3] = { ring[index], ring[(index + 1) % 5], ring[(index + 2) % 5] };
            const auto events = testing::decodeAll (inOrder, 3);
            ASSERT_EQ (events.size(), 1u);
            EXPECT_EQ (events[0].kind, SyncEvent::Kind::position);
            EXPECT_EQ (events[0].position, (StreamPosition { p.bar, p.beat, p.tick })) << "index " << index;

            int untouched = 0;
            for (uint16_t code : ring)
                untouched += code == 0 ? 1 : 0;
            EXPECT_EQ (untouched, 2);
        }
    }

    // No ring, nothing written and no crash.
    TimeData::savePlayheadPositionIntoFIFO (positions[0], nullptr, 0, 5);
    uint16_t one[1] {};
    TimeData::savePlayheadPositionIntoFIFO (positions[0], one, 0, 0);
    EXPECT_EQ (one[0], 0);
}

TEST (PlaceTick, RoundsToTheNearest4096thWithTiesToEven)
{
    struct Case
    {
        double offset;
        int32_t sample;
        uint16_t code;
    };

    const Case cases[] = {
        { 0.0, 0, 0xA000 },
        { 31.25, 31, 0xA400 },
        { 62.5, 62, 0xA800 },
        { 93.75, 93, 0xAC00 },
        { 125.0, 125, 0xA000 },
        { 0.5 / 4096.0, 0, 0xA000 },          // tie to even (0)
        { 1.5 / 4096.0, 0, 0xA002 },          // tie to even (2)
        { 4095.5 / 4096.0, 1, 0xA000 },       // rounds into the next sample
        { 7.0 + 4094.4 / 4096.0, 7, 0xAFFE },
        { -1e-12, 0, 0xA000 },                // due a rounding error before the block start
    };

    for (const auto& c : cases)
    {
        const auto t = TimeData::placeTick (c.offset);
        EXPECT_EQ (t.sample, c.sample) << c.offset;
        EXPECT_EQ (t.code, c.code) << c.offset;
        EXPECT_EQ (t.scaled, t.sample * 4096 + (t.code - 0xA000)) << c.offset;
    }

    // Offsets no block can reach (or no offset at all) stay out of every block.
    for (double far : { 1e12, std::numeric_limits<double>::infinity(), std::nan ("") })
        EXPECT_GT (TimeData::placeTick (far).sample, 1 << 20) << far;
}

} // namespace
} // namespace veltro
