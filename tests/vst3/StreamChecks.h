#pragma once

// Checks on a decoded stream as the stand-in writes it: positions, tick
// spacing, and that nothing but well-formed plug-in codes arrived.

#include "HostRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <vector>

namespace veltro::testing
{

inline constexpr int kTicksPerQuarter = 768;
inline constexpr double kFractionStep = 1.0 / 4096.0;

struct Position
{
    long long bar, beat, tick;
    bool operator== (const Position&) const = default;
};

inline Position positionOf (const StreamEvent& tick)
{
    return { tick.integer ("bar"), tick.integer ("beat"), tick.integer ("tick") };
}

inline Position advanced (Position p, int quartersPerBar)
{
    if (++p.tick == kTicksPerQuarter)
    {
        p.tick = 0;
        if (++p.beat == quartersPerBar)
        {
            p.beat = 0;
            ++p.bar;
        }
    }
    return p;
}

inline std::ostream& operator<< (std::ostream& out, const Position& p)
{
    return out << "bar " << p.bar << " beat " << p.beat << " tick " << p.tick;
}

// Ticks between two stream indices.
inline std::vector<StreamEvent> ticksBetween (const HostRun& run, long long from, long long to)
{
    std::vector<StreamEvent> ticks;
    for (const auto& e : run.eventsOf ("tick"))
        if (e.integer ("index") >= from && e.integer ("index") < to)
            ticks.push_back (e);
    return ticks;
}

// Each tick one tick period after the previous (to the code's 1/4096-sample
// resolution) and one tick further on in bar, beat and tick.
inline void expectSteadyTicks (const std::vector<StreamEvent>& ticks, double samplesPerTick, int quartersPerBar)
{
    ASSERT_FALSE (ticks.empty());
    int badSpacing = 0, badPosition = 0;

    for (size_t i = 1; i < ticks.size(); ++i)
    {
        const double spacing = ticks[i].number ("time") - ticks[i - 1].number ("time");
        if (std::abs (spacing - samplesPerTick) > kFractionStep + 1.0e-9 && badSpacing++ == 0)
            ADD_FAILURE() << "tick " << i << " comes " << spacing << " samples after the previous, not " << samplesPerTick;

        const auto expected = advanced (positionOf (ticks[i - 1]), quartersPerBar);
        if (positionOf (ticks[i]) != expected && badPosition++ == 0)
            ADD_FAILURE() << "tick " << i << " is at " << positionOf (ticks[i]) << ", not " << expected;
    }

    EXPECT_EQ (badSpacing, 0);
    EXPECT_EQ (badPosition, 0);
}

// Nothing but well-formed plug-in codes. The one exception: a stop drops what
// was still waiting in the plug-in's ring, which may cut the position words
// after the last tick short.
inline void expectOnlyPlugInCodes (const HostRun& run)
{
    for (const char* kind : { "unknown", "marker", "tokenByte", "tokenEnd", "dawCode", "systemCode" })
        EXPECT_TRUE (run.eventsOf (kind).empty()) << kind << " in the stream";

    constexpr long long kPositionWords = 3;
    for (const auto& broken : run.eventsOf ("broken"))
    {
        bool cutByStop = false;
        for (const auto& stop : run.eventsOf ("stop"))
        {
            const auto gap = stop.integer ("index") - broken.integer ("index");
            cutByStop |= gap > 0 && gap < kPositionWords;
        }
        EXPECT_TRUE (cutByStop) << "broken item at index " << broken.integer ("index") << " (code "
                                << broken.fields.at ("code") << ")";
    }
}

} // namespace veltro::testing
