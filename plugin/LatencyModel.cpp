#include "LatencyModel.h"

#include "HostIds.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace veltro
{

namespace
{
    // Base delay every host gets for the daemon's own output path, in sync samples.
    constexpr int kBaseDelay = 240;
    // Latency reported by hosts without their own rule, in sync samples per divider.
    constexpr int kBaseLatency = 380;
    constexpr int kProToolsFullExtraDelay = 884;
    constexpr int kCubaseFullExtraDelay = 1264;
    constexpr int kLogicFullDelayBase = 2048;
    constexpr int kLogicFullDelayTrim = 140;
    constexpr int kLogicMinimumDelay = 240;
    constexpr int kFLStudioLatencyBase = 493;
    constexpr int kMinimumReportedMs = 20;
    constexpr double kMinimumLatencyMs = 20.0;
    constexpr double kLargeLatencyPluginsMs = 250.0;

    constexpr int kProToolsRingExtra = 2692;
    constexpr int kCubaseRingExtra = 2048;
    constexpr int kLogicRingExtraBase = 2048;
    constexpr int kLogicRingExtraTrim = 132;
    constexpr int kRingSafetySlots = 290;

    // Truncates like an integer cast, but safely for NaN and out-of-range values.
    int truncateToInt (double v) noexcept
    {
        if (! std::isfinite (v))
            return 0;

        constexpr double lo = std::numeric_limits<int>::min() / 4;
        constexpr double hi = std::numeric_limits<int>::max() / 4;
        return static_cast<int> (std::clamp (v, lo, hi));
    }

    int safeDivider (int d) noexcept { return d == 2 || d == 4 ? d : 1; }
    double safeRate (double r) noexcept { return std::isfinite (r) && r > 0.0 ? r : 44100.0; }
} // namespace

int rateDividerFor (double sampleRate) noexcept
{
    if (sampleRate > 100000.0)
        return 4;
    if (sampleRate > 50000.0)
        return 2;
    return 1;
}

LatencyResult computeLatency (const LatencyInputs& in) noexcept
{
    const double rate = safeRate (in.currentSampleRate);
    const int d = safeDivider (in.rateDivider);
    const double setting = std::isfinite (in.latencyCompensationSeconds) ? in.latencyCompensationSeconds : 0.0;

    const double pos = std::max (setting, 0.0);
    const double neg = setting < 0.0 ? -setting : 0.0;
    const int P = truncateToInt (pos * (rate / d));
    const int A = truncateToInt (neg * rate);

    const bool full = in.currentBlockSize == in.maxBlockSize;
    const int c = std::max (in.currentBlockSize, 0) / d;
    const int b = in.bufferSizeSetting;
    const int host = in.hostType;

    LatencyResult r;
    r.reportedLatencyMs = kMinimumReportedMs;
    int syncDelay = P + kBaseDelay + c;
    int L = kBaseLatency * d + A;

    if (HostId::isProTools (host))
    {
        syncDelay = full ? P + (2 * b) / d + kProToolsFullExtraDelay : P + kBaseDelay + b / d;
        L = full ? A : kBaseLatency * d + A;
    }
    else if (HostId::isCubase (host))
    {
        syncDelay = full ? P + b / d + kCubaseFullExtraDelay : P + kBaseDelay + c;
    }
    else if (HostId::isLogic (host) && full)
    {
        syncDelay = P + (kLogicFullDelayBase + b) / d - kLogicFullDelayTrim;
        L = 0;

        if (A > 0)
        {
            // Take the advance out of the delay first; what is left is reported.
            const int a = truncateToInt (neg * (rate / d));
            const int s = syncDelay - a;
            const int shortened = s > kLogicMinimumDelay ? s : kLogicMinimumDelay;
            int rest = (shortened - syncDelay) * d + A;
            if (rest < d)
                rest = 0;
            syncDelay = shortened;
            L = rest;
        }
    }
    else if (HostId::isFLStudio (host))
    {
        syncDelay = P + kBaseDelay;
        L = (2 * c + kFLStudioLatencyBase) * d + A;
    }

    if (HostId::isFLStudio (host) || HostId::isAbletonLive (host))
    {
        r.reportedLatencyMs = std::max (truncateToInt (std::floor (L * 1000.0 / rate)), kMinimumReportedMs);
        const int m = truncateToInt (rate * (in.usingLargeLatencyPlugins ? kLargeLatencyPluginsMs : kMinimumLatencyMs) / 1000.0);
        if (m > L)
        {
            syncDelay += (m - L) / d;
            L = m;
        }
    }

    r.syncDelay = syncDelay;
    r.latencySamples = L;
    return r;
}

int computeSyncBufferSize (int hostType, double currentSampleRate, int rateDivider, int maxBlockSize) noexcept
{
    const int d = safeDivider (rateDivider);
    const int q = std::max (maxBlockSize, 1) / d;
    const double r = static_cast<double> (truncateToInt (safeRate (currentSampleRate) / d));

    int extra = q;
    if (HostId::isProTools (hostType))
        extra = kProToolsRingExtra;
    else if (HostId::isCubase (hostType))
        extra = kCubaseRingExtra;
    else if (HostId::isAbletonLive (hostType) || HostId::isFLStudio (hostType))
        extra = truncateToInt (0.25 * r + q);
    else if (HostId::isLogic (hostType))
        extra = kLogicRingExtraBase / d + kLogicRingExtraTrim;

    return q + truncateToInt (0.1 * r) + extra + kRingSafetySlots;
}

int limitBufferSizeSetting (int hostType, int rateDivider, int bufferSizeSetting) noexcept
{
    constexpr int alwaysKept = 256;
    if (bufferSizeSetting <= alwaysKept)
        return bufferSizeSetting;

    int largest = alwaysKept;
    if (HostId::isLogic (hostType))
        largest = 512;
    else if (HostId::isProTools (hostType))
        largest = rateDivider == 4 ? bufferSizeSetting : 1024;
    else if (HostId::isCubase (hostType))
        largest = rateDivider == 4 ? 1024 : (rateDivider == 2 ? 512 : 256);

    return std::min (bufferSizeSetting, largest);
}

} // namespace veltro
