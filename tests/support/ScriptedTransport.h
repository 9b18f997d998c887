#pragma once

// A host transport that plays a script: tempo points (steps or ramps), time
// signature changes on bar lines, loops, pauses, pre-roll, and block sizes
// drawn from a seeded generator. Each block it reports what a host's playhead
// would report at the block start, then moves on by the block's length at the
// block's tempo.

#include "SyncEncoder.h"

#include <cstdint>
#include <vector>

namespace veltro::testing
{

// Small deterministic generator (same sequence on every platform).
class TestRandom
{
public:
    explicit TestRandom (uint64_t seed) noexcept : state (seed * 0x9E3779B97F4A7C15ull + 1) {}

    uint64_t next() noexcept
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }

    // Uniform in [lo, hi].
    int between (int lo, int hi) noexcept
    {
        return lo + static_cast<int> (next() % static_cast<uint64_t> (hi - lo + 1));
    }

    double unit() noexcept { return static_cast<double> (next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    uint64_t state;
};

struct TimeSignatureChange
{
    double atPpq; // a bar line
    int numerator;
    int denominator;
};

class ScriptedTransport
{
public:
    struct Settings
    {
        double hostRate = 48000.0;
        int minBlock = 512;
        int maxBlock = 512;
        uint64_t seed = 1;
        double startPpq = 0.0;
        double bpm = 120.0;
        int numerator = 4;
        int denominator = 4;
        bool reportsBarStart = true;
        bool reportsTimeSignature = true;
    };

    struct Block
    {
        HostTimeline host;
        int hostSamples = 0;
        bool relocated = false; // the position jumped (loop, relocation) since the previous block
    };

    explicit ScriptedTransport (const Settings& settings);

    // Tempo as a function of the position: from `atPpq` on, either `bpm` at
    // once or a straight ramp from the tempo there to `bpm` over `rampQuarters`.
    void addTempoPoint (double atPpq, double bpm, double rampQuarters = 0.0);

    // From the bar line `bars` bars after the previous change (or the song
    // start) the time signature is num/den.
    void addTimeSignatureChange (int bars, int numerator, int denominator);

    // Every time the position reaches loopEnd it goes back to loopStart,
    // `times` times. Both should be bar lines.
    void addLoop (double loopStart, double loopEnd, int times);

    // At `atPpq` the transport stops for `blocks` blocks, then plays on from
    // where it stopped, or from `resumeAtPpq` when that is given (>= -1e9).
    void addPause (double atPpq, int blocks, double resumeAtPpq = -2.0e9);

    Block next();

    // The host's bar grid.
    double barStartAt (double ppq) const;
    const TimeSignatureChange& signatureAt (double ppq) const;
    bool allBarsWholeQuarters() const;

    double tempoAt (double ppq) const;
    double position() const noexcept { return ppq; }
    int64_t sampleTime() const noexcept { return samplePosition; }

private:
    struct TempoPoint
    {
        double atPpq, bpm, rampQuarters;
    };

    struct Loop
    {
        double start, end;
        int remaining;
    };

    struct Pause
    {
        double atPpq;
        int blocks;
        double resumeAt;
        bool done;
    };

    Settings settings;
    TestRandom random;
    double ppq;
    int64_t samplePosition = 0;
    std::vector<TempoPoint> tempoPoints;
    std::vector<TimeSignatureChange> signatures;
    std::vector<Loop> loops;
    std::vector<Pause> pauses;
    int pausedBlocksLeft = 0;
    bool relocatedSinceLastBlock = false;
};

} // namespace veltro::testing
