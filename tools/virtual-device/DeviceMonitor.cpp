#include "DeviceMonitor.h"

#include "EventLine.h"

#include "SyncCodes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>

namespace veltro
{

namespace
{

    const char* systemName (int s)
    {
        switch (s)
        {
            case 1: return "macOS";
            case 2: return "Windows";
            case 3: return "Linux";
            default: return "other";
        }
    }

    // The burst: marker, 15 token bytes, token end, DAW code, system code.
    constexpr int kTokenLength = static_cast<int> (sizeof SyncCode::identificationToken);
    constexpr int kBurstCodes = 1 + kTokenLength + 3;
} // namespace

DeviceMonitor::DeviceMonitor (std::ostream& consoleOut, std::ostream* eventsOut, Settings s)
    : console (consoleOut), events (eventsOut), settings (s)
{
    if (settings.sampleRate <= 0.0)
        settings.sampleRate = 48000.0;
}

uint16_t DeviceMonitor::codeOfSample (float sample) noexcept
{
    const long v = std::lround (static_cast<double> (sample) * 32768.0);
    return static_cast<uint16_t> (static_cast<int16_t> (std::clamp (v, -32768L, 32767L)));
}

void DeviceMonitor::receiveSamples (const float* samples, int count)
{
    const auto timeout = static_cast<int64_t> (kSignalTimeoutSeconds * settings.sampleRate);

    for (int i = 0; i < count; ++i)
    {
        const auto index = decoder.nextIndex();
        const auto code = codeOfSample (samples[i]);
        ++stats.samples;

        if (code != 0)
            lastSignalIndex = index;
        else if (locked && index - lastSignalIndex > timeout)
            lose (index);

        for (const auto& e : decoder.consume (code))
            handle (e);
    }

    if (events != nullptr)
        events->flush();
}

void DeviceMonitor::noteXrun()
{
    const auto index = decoder.nextIndex();
    stamp (index) << "xrun reported by the server\n";
    if (events != nullptr)
        *events << "xrun index=" << index << '\n';
}

void DeviceMonitor::finish()
{
    for (const auto& e : decoder.flush())
        handle (e);

    console.flush();
    if (events != nullptr)
        events->flush();
}

std::ostream& DeviceMonitor::stamp (int64_t index)
{
    console << std::fixed << std::setprecision (3) << std::setw (9)
            << static_cast<double> (index) / settings.sampleRate << " s  " << std::defaultfloat;
    return console;
}

void DeviceMonitor::lose (int64_t index)
{
    locked = false;
    playing = false;
    havePreviousTick = false;
    ++stats.unlocks;
    stamp (index) << "signal lost: unlocked\n";
    if (events != nullptr)
        *events << "unlock index=" << index << '\n';
}

void DeviceMonitor::trackBurst (const SyncEvent& e)
{
    using K = SyncEvent::Kind;

    // Every code of the burst follows the previous one in the next sample.
    const bool inSequence = burstStage > 0 && e.index == burstNext;

    if (e.kind == K::marker)
    {
        if (burstStage > 1)
            ++stats.badBursts;
        burstStage = 1;
        burstNext = e.index + 1;
        pendingBurst = { true, -1, -1, e.index };
        return;
    }

    if (! inSequence)
    {
        if (burstStage > 1)
            ++stats.badBursts;
        burstStage = 0;
        return;
    }

    const int tokenPosition = burstStage - 1;
    bool fits = false;

    if (tokenPosition < kTokenLength)
    {
        fits = e.kind == K::tokenByte;
        if (fits && e.value != SyncCode::identificationToken[tokenPosition])
            pendingBurst.tokenValid = false;
    }
    else if (tokenPosition == kTokenLength)
        fits = e.kind == K::tokenEnd;
    else if (tokenPosition == kTokenLength + 1)
    {
        fits = e.kind == K::dawCode;
        pendingBurst.dawCode = e.value;
    }
    else
    {
        fits = e.kind == K::systemCode;
        pendingBurst.systemCode = e.value;
    }

    if (! fits)
    {
        // A lone marker followed by the stream is normal; anything else inside a burst is not.
        if (burstStage > 1)
            ++stats.badBursts;
        burstStage = 0;
        return;
    }

    ++burstStage;
    burstNext = e.index + 1;

    if (burstStage < kBurstCodes)
        return;

    burstStage = 0;
    burst = pendingBurst;
    ++stats.bursts;

    stamp (pendingBurst.index) << "identification burst: token " << (pendingBurst.tokenValid ? "valid" : "INVALID")
                               << ", DAW code " << pendingBurst.dawCode << ", system code " << pendingBurst.systemCode
                               << " (" << systemName (pendingBurst.systemCode) << ")\n";
    if (events != nullptr)
        *events << "burst index=" << pendingBurst.index << " token=" << (pendingBurst.tokenValid ? 1 : 0)
                << " daw=" << pendingBurst.dawCode << " system=" << pendingBurst.systemCode << '\n';

    // A new burst means a new playout: the transport starts over.
    playing = false;
    havePreviousTick = false;

    if (pendingBurst.tokenValid)
    {
        if (! locked)
        {
            ++stats.locks;
            stamp (pendingBurst.index) << "LOCKED\n";
        }
        locked = true;
        lastMarkerIndex = -1;
        if (events != nullptr)
            *events << "lock index=" << pendingBurst.index << '\n';
    }
}

void DeviceMonitor::trackTicks (const SyncEvent& e)
{
    ++stats.ticks;

    std::optional<double> jitterUs;
    if (e.hasPosition)
    {
        // Ticks count on one by one; any other step is a jump (loop,
        // relocation) and the timing starts over.
        const int64_t absolute = (static_cast<int64_t> (e.position.bar) * decoder.quartersPerBar() + e.position.beat)
                                     * SyncCode::kTicksPerQuarter
                                 + e.position.tick;
        if (havePreviousTick && previousTickPosition >= 0 && absolute != previousTickPosition + 1)
        {
            ++stats.positionJumps;
            havePreviousTick = false;
        }
        previousTickPosition = absolute;
    }
    else
        previousTickPosition = -1;

    if (havePreviousTick && bpm > 0.0)
    {
        const double ideal = settings.sampleRate * 60.0 / (bpm * SyncCode::kTicksPerQuarter);
        const double error = microseconds (e.time - previousTickTime - ideal);
        jitterUs = error;
        ++stats.timedIntervals;
        stats.jitterMaxUs = std::max (stats.jitterMaxUs, std::abs (error));
        stats.jitterSumSquares += error * error;
        beatJitterMaxUs = std::max (beatJitterMaxUs, std::abs (error));
    }

    havePreviousTick = true;
    previousTickTime = e.time;

    if (events != nullptr)
        writeEventLine (e, jitterUs);

    const bool beat = e.hasPosition && e.position.tick == 0;
    if (! beat && ! settings.verbose)
        return;

    auto& line = stamp (e.index);
    if (! e.hasPosition)
        line << "tick (position unknown)";
    else if (beat && ! settings.verbose)
        line << "bar " << e.position.bar << " beat " << e.position.beat;
    else
        line << "tick bar " << e.position.bar << " beat " << e.position.beat << " tick " << e.position.tick << " +"
             << e.fraction << "/4096";

    line << "  " << std::fixed << std::setprecision (3) << bpm << " bpm " << numerator << '/' << denominator
         << std::setprecision (1) << "  jitter " << beatJitterMaxUs << " us" << (locked ? "  [locked]" : "  [not locked]")
         << std::defaultfloat << '\n';

    if (beat)
        beatJitterMaxUs = 0.0;
}

void DeviceMonitor::handle (const SyncEvent& e)
{
    using K = SyncEvent::Kind;

    switch (e.kind)
    {
        case K::tick:
            trackTicks (e); // writes its own event line
            if (burstStage > 0)
                trackBurst (e);
            return;

        case K::start:
            ++stats.starts;
            playing = true;
            havePreviousTick = false;
            beatJitterMaxUs = 0.0;
            stamp (e.index) << "start\n";
            break;

        case K::stop:
            ++stats.stops;
            playing = false;
            havePreviousTick = false;
            stamp (e.index) << "stop\n";
            break;

        case K::tempo:
            if (e.bpm != bpm)
            {
                havePreviousTick = false;
                if (settings.verbose || bpm == 0.0 || std::abs (e.bpm - bpm) >= 0.5)
                    stamp (e.index) << "tempo " << e.bpm << " bpm\n";
            }
            bpm = e.bpm;
            break;

        case K::timeSignature:
            if (e.numerator != numerator || e.denominator != denominator)
                stamp (e.index) << "time signature " << e.numerator << '/' << e.denominator << '\n';
            numerator = e.numerator;
            denominator = e.denominator;
            break;

        case K::marker:
            ++stats.markers;
            if (locked && lastMarkerIndex >= 0)
            {
                const auto gap = e.index - lastMarkerIndex;
                stats.markerGapMin = stats.markerGapMin == 0 ? gap : std::min (stats.markerGapMin, gap);
                stats.markerGapMax = std::max (stats.markerGapMax, gap);
            }
            lastMarkerIndex = e.index;
            break;

        case K::broken:
            ++stats.broken;
            stamp (e.index) << "BROKEN item at " << hexCode (e.code) << '\n';
            break;

        case K::unknown:
            ++stats.unknown;
            stamp (e.index) << "UNKNOWN code " << hexCode (e.code) << '\n';
            break;

        case K::position:
            if (settings.verbose)
                stamp (e.index) << "position bar " << e.position.bar << " beat " << e.position.beat << " tick "
                                << e.position.tick << '\n';
            break;

        case K::keepSync:
        case K::tokenByte:
        case K::tokenEnd:
        case K::dawCode:
        case K::systemCode:
            break;
    }

    if (events != nullptr)
        writeEventLine (e, std::nullopt);

    // After the code's own line, so a burst's line follows its last code.
    if (e.kind == K::marker || burstStage > 0)
        trackBurst (e);
}

void DeviceMonitor::writeEventLine (const SyncEvent& e, std::optional<double> jitterUs)
{
    // The same lines the stand-in's report writes, so tests read both alike;
    // ticks add their interval error when it was measured.
    auto& out = *events;
    writeEventFields (out, e);
    if (e.kind == SyncEvent::Kind::tick && jitterUs)
        out << std::setprecision (6) << " jitterUs=" << *jitterUs;
    out << '\n';
}

void DeviceMonitor::printSummary (std::ostream& out) const
{
    const double rms = stats.timedIntervals > 0 ? std::sqrt (stats.jitterSumSquares / static_cast<double> (stats.timedIntervals)) : 0.0;

    out << "device.samples=" << stats.samples << '\n'
        << "device.bursts=" << stats.bursts << '\n'
        << "device.badBursts=" << stats.badBursts << '\n'
        << "device.locks=" << stats.locks << '\n'
        << "device.unlocks=" << stats.unlocks << '\n'
        << "device.locked=" << (locked ? 1 : 0) << '\n'
        << "device.starts=" << stats.starts << '\n'
        << "device.stops=" << stats.stops << '\n'
        << "device.ticks=" << stats.ticks << '\n'
        << "device.markers=" << stats.markers << '\n'
        << "device.markerGapMin=" << stats.markerGapMin << '\n'
        << "device.markerGapMax=" << stats.markerGapMax << '\n'
        << "device.broken=" << stats.broken << '\n'
        << "device.unknown=" << stats.unknown << '\n'
        << "device.positionJumps=" << stats.positionJumps << '\n'
        << "device.timedIntervals=" << stats.timedIntervals << '\n'
        << std::fixed << std::setprecision (3)
        << "device.jitterMaxUs=" << stats.jitterMaxUs << '\n'
        << "device.jitterRmsUs=" << rms << '\n'
        << std::defaultfloat;
}

} // namespace veltro
