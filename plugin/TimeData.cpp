#include "TimeData.h"

#include "SyncCodes.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace veltro::TimeData
{

namespace
{
constexpr uint32_t kBarMask = 0x3FFFF;

// Whole up to rounding: the same test as a relative float comparison with the
// smallest normal double as the absolute floor. Infinities compare exactly.
bool approximatelyEqual (double a, double b) noexcept
{
    if (! std::isfinite (a) || ! std::isfinite (b))
        return a == b;

    const double diff = std::fabs (a - b);
    if (diff <= std::numeric_limits<double>::min())
        return true;

    return diff <= std::numeric_limits<double>::epsilon() * std::fmax (std::fabs (a), std::fabs (b));
}
} // namespace

int PlayheadPosition::computeDifference (const PlayheadPosition& other, int qpb) const noexcept
{
    const int diff = (static_cast<int> (other.beat) * kTicksPerQuarter + static_cast<int> (other.tick))
                     - (static_cast<int> (beat) * kTicksPerQuarter + static_cast<int> (tick));

    // quartersPerBar() keeps this in 1..256, so the products cannot overflow;
    // clamp anyway because callers may pass their own value.
    const int q = qpb < 1 ? 1 : (qpb > 256 ? 256 : qpb);
    const int half = q * (kTicksPerQuarter / 2);
    const int full = q * kTicksPerQuarter;

    if (diff > half)
        return diff - full;
    if (diff < -half)
        return diff + full;
    return diff;
}

void PlayheadPosition::advanceByOneTick (int qpb) noexcept
{
    const uint32_t nextTick = static_cast<uint32_t> (tick) + 1u;
    if (nextTick < static_cast<uint32_t> (kTicksPerQuarter))
    {
        tick = static_cast<uint16_t> (nextTick & 0x3FFu);
        return;
    }

    tick = 0;
    const uint32_t nextBeat = (static_cast<uint32_t> (beat) + 1u) & 0xFFu;
    if (qpb <= 0 || nextBeat >= static_cast<uint32_t> (qpb))
    {
        beat = 0;
        bar = (static_cast<uint32_t> (bar) + 1u) & kBarMask;
    }
    else
    {
        beat = nextBeat & 0xFFu;
    }
}

int quartersPerBar (int numerator, int denominator) noexcept
{
    if (numerator <= 0 || denominator <= 0)
        return 4;

    const int64_t q = static_cast<int64_t> (numerator) * 4 / denominator;
    if (q < 1)
        return 1;
    if (q > 256)
        return 256;
    return static_cast<int> (q);
}

double computeNextTickPos (double ppqPosition, double barStartPpq, int qpb, PlayheadPosition& next) noexcept
{
    // Before the song start (pre-roll) the first tick is the song start.
    if (ppqPosition < 0.0)
    {
        next.bar = 0;
        next.beat = 0;
        next.tick = 0;
        return 0.0;
    }

    // No usable position: no tick is due.
    if (! std::isfinite (ppqPosition) || ! std::isfinite (barStartPpq))
    {
        next.beat = 0;
        next.tick = 0;
        return std::numeric_limits<double>::infinity();
    }

    const double ticksPerQuarter = static_cast<double> (kTicksPerQuarter);
    const double t = ppqPosition * ticksPerQuarter - ticksPerQuarter * barStartPpq;

    // The bar has not begun yet: its first tick is the next one.
    if (t < 0.0)
    {
        next.beat = 0;
        next.tick = 0;
        return barStartPpq;
    }

    // Tick count since the bar start, rounded up, where "whole up to rounding"
    // counts as whole. Normally well inside 32 bits; the wider type only keeps
    // an absurd distance from the bar start defined.
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (! (t < kTwoTo63))
    {
        next.beat = 0;
        next.tick = 0;
        return ppqPosition;
    }

    uint64_t d = static_cast<uint64_t> (t);
    if (! approximatelyEqual (t, static_cast<double> (d)))
        ++d;

    const uint64_t b = (d / static_cast<uint64_t> (kTicksPerQuarter)) & 0xFFu;
    next.beat = (qpb <= 0 || b >= static_cast<uint64_t> (qpb)) ? 0u : static_cast<uint32_t> (b) & 0xFFu;
    next.tick = static_cast<uint16_t> (d % static_cast<uint64_t> (kTicksPerQuarter)) & 0x3FFu;

    return static_cast<double> (d) / ticksPerQuarter + barStartPpq;
}

void savePlayheadPositionIntoFIFO (const PlayheadPosition& pos, uint16_t* codes, int index, int size) noexcept
{
    if (codes == nullptr || size <= 0)
        return;

    const int first = ((index % size) + size) % size;
    const int second = (first + 1) % size;
    const int third = (second + 1) % size;

    codes[first] = SyncCode::positionWord1 (pos.bar);
    codes[second] = SyncCode::positionWord2 (pos.bar, pos.beat);
    codes[third] = SyncCode::positionWord3 (pos.beat, pos.tick);
}

TickPlacement placeTick (double offsetSamples) noexcept
{
    constexpr int32_t steps = SyncCode::kTickFractionSteps;
    const double scaled = offsetSamples * static_cast<double> (steps);

    // Far enough that no block reaches it, and small enough that adding a few
    // samples to the result cannot overflow.
    constexpr double kFarLimit = 2147483648.0 - static_cast<double> (steps);
    if (! (scaled < kFarLimit))
        return { std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max() / 2, SyncCode::tickBase };

    // Rounding can put a tick due exactly at the block start a hair before it.
    if (! (scaled > 0.0))
        return { 0, 0, SyncCode::tickBase };

    const auto f = static_cast<int32_t> (std::nearbyint (scaled));
    const int32_t sample = f / steps;
    return { f, sample, SyncCode::tick (static_cast<uint32_t> (f - sample * steps)) };
}

} // namespace veltro::TimeData
