#include "FillControl.h"

#include <algorithm>

namespace veltro::daemon
{

namespace
{
int clampBlock (int32_t v) noexcept { return std::clamp<int32_t> (v, 0, FillControl::kMaxBlockSize); }
} // namespace

void FillControl::setBlockSizes (int32_t nominal, int32_t actual) noexcept
{
    pluginNominalBlockSize = clampBlock (nominal);
    pluginActualBlockSize = clampBlock (actual);
    fillAtUpturn = fillAtDownturn = -1;
    windowSamples = 0;
}

void FillControl::resetDrift() noexcept
{
    nudgeBalance = driftMode = lowFillCount = highFillCount = 0;
    fillAtUpturn = fillAtDownturn = -1;
    windowSamples = 0;
}

int FillControl::evaluationLimit() const noexcept
{
    // A block size of 0 (a block shorter than the plug-in's rate divider) has
    // no natural limit; such a plug-in writes a code or none per host block,
    // so it is judged like the shortest real block.
    const int b = pluginNominalBlockSize;
    return b > 0 ? std::max (1, kLimitSamples / b) : kLimitForUnknownBlock;
}

void FillControl::update (int available, int callbackLength) noexcept
{
    const int a = std::clamp (available, 0, kMaxBlockSize);

    if (callbackLength <= kShortCallback)
        updateShort (a);
    else
        updateLong (a, std::min (callbackLength, kMaxBlockSize));

    lastFill = a;
}

void FillControl::updateShort (int a) noexcept
{
    const int b = pluginNominalBlockSize;

    if (a <= kShortCallback - 1)
    {
        adjustment = kShortCallback - a;
        ++counters.emergencyPads;
        return;
    }

    if (a > b + kTargetFill)
    {
        adjustment = b - a + kShortCallback;
        ++counters.emergencyDrops;
        return;
    }

    int c = a;

    if (pluginActualBlockSize <= kShortCallback)
    {
        fillAtUpturn = fillAtDownturn = a;
    }
    else if (lastFill > a && fillAtDownturn == -1)
    {
        fillAtDownturn = lastFill;
        fillAtUpturn = -1;
        endOfEpisodeCheck();
        return;
    }
    else if (lastFill < a && fillAtUpturn == -1)
    {
        fillAtUpturn = lastFill;
        fillAtDownturn = -1;
        c = lastFill;
    }
    else
    {
        endOfEpisodeCheck();
        return;
    }

    evaluate (c, Band { kTargetFill, kTargetFill, kLargeExcess, kTargetFill }, evaluationLimit());
}

void FillControl::updateLong (int a, int n) noexcept
{
    // With long callbacks the fill seen at a read moves in steps as the two
    // clocks slide past each other: while nothing is observable the real
    // delay drifts, then the fill jumps by a whole callback or host block
    // (whichever is shorter). The lowest fill over a window is therefore kept
    // inside a band that starts one such step (plus 32 codes) above what one
    // read takes, so a jump never empties the FIFO, and is one step wide, so
    // a jump alone never leaves the band on both sides.
    const int b = std::max (pluginNominalBlockSize, 1);
    const int step = std::min (b, n);
    const int longest = std::max (std::max (pluginActualBlockSize, b), n);

    Band band;
    band.low = n + step + kShortCallback;
    band.high = band.low + step + kShortCallback;
    band.excess = band.high + step + kShortCallback;
    band.settle = (band.low + band.high) / 2;

    if (a < n)
    {
        adjustment = n - a;
        windowSamples = 0;
        ++counters.emergencyPads;
        return;
    }

    // The fill at a read spreads over up to a host block above its lowest value.
    if (a > band.high + longest + kShortCallback)
    {
        adjustment = band.high + longest - a;
        windowSamples = 0;
        ++counters.emergencyDrops;
        return;
    }

    if (windowSamples == 0 || a < windowMinimum)
        windowMinimum = a;
    windowSamples += n;

    // A window of a host block plus a callback always holds the bottom of a
    // dip; one callback alone may not.
    const int window = longest + n;
    if (windowSamples < window)
    {
        endOfEpisodeCheck();
        return;
    }

    const int c = windowMinimum;
    windowSamples = 0;
    evaluate (c, band, std::max (1, kLimitSamples / window));
}

void FillControl::evaluate (int c, const Band& band, int limit) noexcept
{
    if (c < band.low)
    {
        ++lowFillCount;
        highFillCount = 0;
    }
    else if (c <= band.high)
    {
        lowFillCount = highFillCount = 0;
    }
    else
    {
        ++highFillCount;
        lowFillCount = 0;
    }

    if (lowFillCount >= limit)
    {
        driftMode = 1;
        lowFillCount = 0;
    }
    else if (highFillCount >= limit)
    {
        if (c > band.excess)
        {
            adjustment = band.settle - c;
            ++counters.excessDrops;
            nudgeBalance = driftMode = lowFillCount = highFillCount = 0;
            fillAtUpturn = fillAtDownturn = -1;
            return;
        }

        driftMode = 2;
        highFillCount = 0;
    }

    if (c < band.low && driftMode == 1)
    {
        adjustment = 1;
        ++nudgeBalance;
        ++counters.nudgesUp;
    }
    else if (c > band.high && driftMode == 2)
    {
        adjustment = -1;
        --nudgeBalance;
        ++counters.nudgesDown;
    }

    endOfEpisodeCheck();
}

void FillControl::endOfEpisodeCheck() noexcept
{
    if (nudgeBalance % kNudgesPerEpisode == 0 && driftMode != 0)
    {
        nudgeBalance = 0;
        driftMode = 0;
    }
}

} // namespace veltro::daemon
