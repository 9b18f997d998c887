#pragma once

// What the device makes of the samples arriving at its input: the codes, the
// identification burst, lock, transport, tempo, time signature, position,
// markers and the timing of the ticks against the device's own sample clock.
// Free of JACK and JUCE so tests can feed it samples directly.

#include "StreamDecoder.h"

#include <cstdint>
#include <optional>
#include <ostream>

namespace veltro
{

class DeviceMonitor
{
public:
    // Without a non-zero code for this long the device loses the signal.
    static constexpr double kSignalTimeoutSeconds = 0.5;

    struct Settings
    {
        double sampleRate = 48000.0;
        bool verbose = false; // every tick on the console instead of every beat
    };

    // `events` may be null: one "kind index=N key=value..." line per event.
    DeviceMonitor (std::ostream& console, std::ostream* events, Settings settings);

    // Samples as they reach the device's first input, in order, without gaps.
    void receiveSamples (const float* samples, int count);

    // The server reported an xrun: a cycle came late and samples may have
    // been lost or repeated around the current position.
    void noteXrun();

    // Reports what is still pending at the end of the stream and flushes.
    void finish();

    // "device.*=" summary lines.
    void printSummary (std::ostream& out) const;

    // The code a sample carries: the daemon writes code / 32768 for the code read as int16.
    static uint16_t codeOfSample (float sample) noexcept;

    struct Burst
    {
        bool tokenValid = false;
        int dawCode = -1;
        int systemCode = -1;
        int64_t index = 0;
    };

    struct Statistics
    {
        int64_t samples = 0;
        int64_t bursts = 0;
        int64_t badBursts = 0;       // marker and token that did not end as a burst should
        int64_t locks = 0;
        int64_t unlocks = 0;
        int64_t starts = 0;
        int64_t stops = 0;
        int64_t ticks = 0;
        int64_t markers = 0;
        int64_t broken = 0;
        int64_t unknown = 0;
        int64_t positionJumps = 0;   // ticks that do not follow the previous tick's position
        int64_t timedIntervals = 0;  // tick intervals measured for jitter
        double jitterMaxUs = 0.0;    // largest |interval - ideal interval|
        double jitterSumSquares = 0.0;
        int64_t markerGapMin = 0;    // samples between consecutive markers while locked
        int64_t markerGapMax = 0;
    };

    const Statistics& statistics() const noexcept { return stats; }
    bool isLocked() const noexcept { return locked; }
    const std::optional<Burst>& lastBurst() const noexcept { return burst; }
    double tempo() const noexcept { return bpm; }

private:
    void handle (const SyncEvent& e);
    void trackBurst (const SyncEvent& e);
    void trackTicks (const SyncEvent& e);
    void lose (int64_t index);
    void writeEventLine (const SyncEvent& e, std::optional<double> jitterUs);
    std::ostream& stamp (int64_t index);
    double microseconds (double samples) const noexcept { return samples / settings.sampleRate * 1.0e6; }

    std::ostream& console;
    std::ostream* events;
    Settings settings;
    StreamDecoder decoder { StreamDecoder::Options { true } };
    Statistics stats;

    // Identification burst in progress: codes of it seen so far (0: none).
    int burstStage = 0;
    int64_t burstNext = 0;
    Burst pendingBurst;
    std::optional<Burst> burst;

    bool locked = false;
    int64_t lastSignalIndex = -1;
    int64_t lastMarkerIndex = -1;

    bool playing = false;
    double bpm = 0.0;
    int numerator = 0, denominator = 0;

    // Tick timing: the previous tick of an unbroken run at one tempo.
    bool havePreviousTick = false;
    double previousTickTime = 0.0;
    int64_t previousTickPosition = -1; // in ticks from bar 0, beat 0

    // Jitter over the current beat, for the console line.
    double beatJitterMaxUs = 0.0;
};

} // namespace veltro
