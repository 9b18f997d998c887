#include "TransportScript.h"

#include <algorithm>
#include <cmath>

namespace veltro
{

namespace
{
    constexpr double kSecondsPerMinute = 60.0;
    constexpr double kQuartersPerWholeNote = 4.0;
} // namespace

std::string TransportSettings::validate() const
{
    if (! (sampleRate > 0.0))
        return "the sample rate must be positive";
    if (! (bpm > 0.0) || (rampToBpm && ! (*rampToBpm > 0.0)))
        return "tempos must be positive";
    if (numerator <= 0 || denominator <= 0)
        return "the time signature needs a positive numerator and denominator";
    if (startAfterSeconds < 0.0 || (stopAfterSeconds && *stopAfterSeconds < startAfterSeconds))
        return "the transport must start before it stops";
    if (loopBars < 0)
        return "the loop length cannot be negative";
    if (loopBars > 0 && rampToBpm)
        return "a loop needs a steady tempo";
    if (rampToBpm && ! (rampSeconds > 0.0))
        return "a tempo ramp needs a positive duration";
    return {};
}

TransportScript::TransportScript (TransportSettings s) : settings (std::move (s))
{
    startSample = std::llround (settings.startAfterSeconds * settings.sampleRate);

    if (settings.stopAfterSeconds)
        stopSample = std::llround (*settings.stopAfterSeconds * settings.sampleRate);

    // The timeline in samples lines up with ppq 0 at the starting tempo; hosts
    // report no negative sample positions, so pre-roll starts at 0.
    startTimeInSamples = std::max<int64_t> (
        0, std::llround (settings.startPpq * kSecondsPerMinute / settings.bpm * settings.sampleRate));
}

double TransportScript::quartersPerBar() const noexcept
{
    return settings.numerator * kQuartersPerWholeNote / settings.denominator;
}

double TransportScript::tempoAfter (double t) const noexcept
{
    if (! settings.rampToBpm)
        return settings.bpm;

    const double share = std::min (t / settings.rampSeconds, 1.0);
    return settings.bpm + (*settings.rampToBpm - settings.bpm) * share;
}

double TransportScript::quartersAfter (double t) const noexcept
{
    if (! settings.rampToBpm)
        return settings.bpm * t / kSecondsPerMinute;

    // The integral of a tempo that rises linearly, then stays.
    const double b0 = settings.bpm;
    const double b1 = *settings.rampToBpm;
    const double rampT = settings.rampSeconds;
    const double inRamp = std::min (t, rampT);
    const double beatsInRamp = b0 * inRamp + (b1 - b0) * inRamp * inRamp / (2.0 * rampT);
    const double beatsAfter = t > rampT ? b1 * (t - rampT) : 0.0;
    return (beatsInRamp + beatsAfter) / kSecondsPerMinute;
}

TransportFrame TransportScript::frameAt (int64_t hostSample) const noexcept
{
    TransportFrame f;
    f.numerator = settings.numerator;
    f.denominator = settings.denominator;

    int64_t played = 0;

    if (hostSample >= startSample)
    {
        const int64_t end = stopSample ? std::min (hostSample, *stopSample) : hostSample;
        played = end - startSample;
        f.playing = ! stopSample || hostSample < *stopSample;
    }

    const double seconds = static_cast<double> (played) / settings.sampleRate;
    f.bpm = tempoAfter (seconds);
    f.ppq = settings.startPpq + quartersAfter (seconds);
    f.timeInSamples = startTimeInSamples + played;

    if (settings.loopBars > 0)
    {
        const double loopQuarters = settings.loopBars * quartersPerBar();
        const double intoLoop = f.ppq - settings.startPpq;
        const auto pass = static_cast<int> (std::floor (intoLoop / loopQuarters));

        if (pass > 0)
        {
            const double loopSamples = loopQuarters * kSecondsPerMinute / settings.bpm * settings.sampleRate;
            f.ppq -= pass * loopQuarters;
            f.timeInSamples -= std::llround (pass * loopSamples);
            f.loopPass = pass;
        }
    }

    f.barStartPpq = std::floor (f.ppq / quartersPerBar()) * quartersPerBar();
    return f;
}

} // namespace veltro
