#include "ScriptedTransport.h"

#include <algorithm>
#include <cmath>

namespace veltro::testing
{

ScriptedTransport::ScriptedTransport (const Settings& s)
    : settings (s), random (s.seed), ppq (s.startPpq)
{
    signatures.push_back ({ 0.0, s.numerator, s.denominator });
}

void ScriptedTransport::addTempoPoint (double atPpq, double bpm, double rampQuarters)
{
    tempoPoints.push_back ({ atPpq, bpm, rampQuarters });
    std::sort (tempoPoints.begin(), tempoPoints.end(), [] (const auto& a, const auto& b) { return a.atPpq < b.atPpq; });
}

void ScriptedTransport::addTimeSignatureChange (int bars, int numerator, int denominator)
{
    const auto& last = signatures.back();
    const double barLength = 4.0 * last.numerator / last.denominator;
    signatures.push_back ({ last.atPpq + bars * barLength, numerator, denominator });
}

void ScriptedTransport::addLoop (double loopStart, double loopEnd, int times)
{
    loops.push_back ({ loopStart, loopEnd, times });
}

void ScriptedTransport::addPause (double atPpq, int blocks, double resumeAtPpq)
{
    pauses.push_back ({ atPpq, blocks, resumeAtPpq, false });
}

const TimeSignatureChange& ScriptedTransport::signatureAt (double p) const
{
    const TimeSignatureChange* found = &signatures.front();
    for (const auto& s : signatures)
        if (s.atPpq <= p)
            found = &s;
    return *found;
}

double ScriptedTransport::barStartAt (double p) const
{
    const auto& s = signatureAt (p);
    const double barLength = 4.0 * s.numerator / s.denominator;
    return s.atPpq + std::floor ((p - s.atPpq) / barLength) * barLength;
}

bool ScriptedTransport::allBarsWholeQuarters() const
{
    return std::all_of (signatures.begin(), signatures.end(),
                        [] (const auto& s) { return (s.numerator * 4) % s.denominator == 0; });
}

double ScriptedTransport::tempoAt (double p) const
{
    double bpm = settings.bpm;
    for (const auto& t : tempoPoints)
    {
        if (t.atPpq > p)
            break;

        if (t.rampQuarters > 0.0 && p < t.atPpq + t.rampQuarters)
            return bpm + (t.bpm - bpm) * (p - t.atPpq) / t.rampQuarters;

        bpm = t.bpm;
    }
    return bpm;
}

ScriptedTransport::Block ScriptedTransport::next()
{
    Block b;
    b.hostSamples = random.between (settings.minBlock, settings.maxBlock);

    const double bpm = tempoAt (ppq);
    const auto& sig = signatureAt (ppq);

    b.host.bpm = bpm;
    b.host.ppq = ppq;
    b.host.hasBarStart = settings.reportsBarStart;
    b.host.barStartPpq = settings.reportsBarStart ? barStartAt (ppq) : 0.0;
    b.host.hasTimeSignature = settings.reportsTimeSignature;
    b.host.numerator = settings.reportsTimeSignature ? sig.numerator : 4;
    b.host.denominator = settings.reportsTimeSignature ? sig.denominator : 4;
    b.host.timeInSamples = samplePosition;

    for (auto& pause : pauses)
    {
        if (! pause.done && ppq >= pause.atPpq)
        {
            pause.done = true;
            pausedBlocksLeft = pause.blocks;
            if (pause.resumeAt >= -1.0e9)
            {
                ppq = pause.resumeAt;
                relocatedSinceLastBlock = true;
            }
        }
    }

    if (pausedBlocksLeft > 0)
    {
        --pausedBlocksLeft;
        b.host.isPlaying = false;
        return b;
    }

    b.host.isPlaying = true;
    b.relocated = relocatedSinceLastBlock;
    relocatedSinceLastBlock = false;

    // The whole block plays at the tempo reported at its start.
    ppq += b.hostSamples * bpm / (60.0 * settings.hostRate);
    samplePosition += b.hostSamples;

    for (auto& loop : loops)
    {
        if (loop.remaining > 0 && ppq >= loop.end)
        {
            --loop.remaining;
            const double length = loop.end - loop.start;
            ppq -= length;
            samplePosition -= static_cast<int64_t> (std::llround (length * 60.0 / bpm * settings.hostRate));
            relocatedSinceLastBlock = true;
        }
    }

    return b;
}

} // namespace veltro::testing
