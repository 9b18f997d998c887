#pragma once

// A scripted DAW transport: where the playhead is at any host sample. It waits
// stopped, plays (at a fixed tempo, a linear tempo ramp, or looping a few bars)
// and stops again. JUCE-free so the arithmetic can be checked on its own.

#include <cstdint>
#include <optional>
#include <string>

namespace veltro
{

struct TransportSettings
{
    double sampleRate = 48000.0;
    double bpm = 120.0;
    std::optional<double> rampToBpm;   // tempo moves linearly from bpm to this...
    double rampSeconds = 0.0;          // ...over this long after the start, then stays
    int numerator = 4;
    int denominator = 4;
    double startPpq = 0.0;             // where play starts (negative: pre-roll)
    double startAfterSeconds = 0.0;    // stopped until then
    std::optional<double> stopAfterSeconds; // stopped from then on (from the beginning of the session)
    int loopBars = 0;                  // > 0: jump back to startPpq after this many bars

    // Empty when the settings are usable, else what is wrong with them.
    std::string validate() const;
};

// What the playhead says at the start of one block.
struct TransportFrame
{
    bool playing = false;
    double bpm = 120.0;
    double ppq = 0.0;
    double barStartPpq = 0.0;
    int numerator = 4;
    int denominator = 4;
    int64_t timeInSamples = 0;
    int loopPass = 0; // how often the loop has jumped back so far
};

class TransportScript
{
public:
    explicit TransportScript (TransportSettings settings);

    TransportFrame frameAt (int64_t hostSample) const noexcept;

    const TransportSettings& getSettings() const noexcept { return settings; }
    double quartersPerBar() const noexcept;
    int64_t playStartSample() const noexcept { return startSample; }

private:
    double tempoAfter (double secondsPlaying) const noexcept;
    double quartersAfter (double secondsPlaying) const noexcept;

    TransportSettings settings;
    int64_t startSample = 0;
    std::optional<int64_t> stopSample;
    int64_t startTimeInSamples = 0;
};

} // namespace veltro
