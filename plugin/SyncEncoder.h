#pragma once

// Turns the host's playhead, block by block, into sync codes in a delay ring.
// Pure logic: the processor owns one and feeds it; tests drive it directly.

#include "SharedField.h"
#include "TimeData.h"

#include <cstdint>
#include <memory>

namespace veltro
{

// What the processor read from the host's playhead for one block.
struct HostTimeline
{
    bool isPlaying = false;
    double bpm = 120.0;
    double ppq = 0.0;
    bool hasBarStart = false;
    double barStartPpq = 0.0;
    bool hasTimeSignature = false;
    int numerator = 4;
    int denominator = 4;
    int64_t timeInSamples = 0;
};

class SyncEncoder
{
public:
    static constexpr int kKeepSyncInterval = 115;     // at most this many zero codes in a row while playing
    static constexpr int kStartKeepSyncSpacing = 4400; // keep-sync spacing in the delay region at a start
    static constexpr int kMaxCatchUpTicks = 15;

    // ---- message thread (never concurrently with generateBlock) ----

    // Allocates a zeroed ring of `size` slots. Returns false (and leaves no ring)
    // when size is not positive or the allocation fails.
    bool allocate (int size);

    // Resets what a new preparation resets: both ring indices, position,
    // lastTempoSent, lastTimeSigNumerator, savedBarStartPpq. isPlaying is kept.
    void resetForPrepare() noexcept;

    // The delay between the ring's read and write positions at the next start,
    // clamped to [0, syncBufferSize - 1] so a start never writes past the ring.
    void setSyncDelay (int delay) noexcept;

    // ---- audio thread ----

    // Forces tempo and time signature to be sent again.
    void forceTempoAndTimeSignature() noexcept;

    // Forgets the stream in flight: the next playing block starts afresh (start
    // code, position words, a clean delay region), tempo and signature included.
    void restartStream() noexcept;

    void setTempoRange (double minTempo, double maxTempo) noexcept;

    // jumpSize and expectedSamplePosition, for every block that got past the handshake.
    void trackHostPosition (int64_t hostSamplePosition, int hostSampleCount) noexcept;

    // Writes the block's n sync samples at syncBufferWriteIndex (playing or
    // stopped path, then tempo and time signature). syncSampleRate is the host
    // rate divided by the rate divider. Does nothing without a ring, or when n
    // is not in 1..syncBufferSize.
    void generateBlock (const HostTimeline& host, int n, double syncSampleRate) noexcept;

    // syncBufferWriteIndex += n, modulo the ring size.
    void advanceWriteIndex (int n) noexcept;

    // The next due code at syncBufferReadIndex; advances the read index.
    uint16_t takeNextCode() noexcept;

    // The next `count` due codes into dest, in order; advances the read index.
    void takeCodes (uint16_t* dest, int count) noexcept;

    // ---- state, public for the processor, the editor and tests ----
    bool hasRing() const noexcept { return syncBuffer != nullptr; }
    int getSyncBufferSize() const noexcept { return syncBufferSize; }
    int getSyncDelay() const noexcept { return syncDelay.load(); }
    const uint16_t* getRing() const noexcept { return syncBuffer.get(); }
    int getWriteIndex() const noexcept { return syncBufferWriteIndex; }
    int getReadIndex() const noexcept { return syncBufferReadIndex; }
    TimeData::PlayheadPosition getPosition() const noexcept { return position; }
    bool getIsPlaying() const noexcept { return isPlaying.load(); }
    int getDisplayTempo() const noexcept { return displayTempo.load(); }
    double getMinTempo() const noexcept { return minTempo; }
    double getMaxTempo() const noexcept { return maxTempo; }

private:
    // The steps of generateBlock, named after what they do.
    double chooseBarStart (const HostTimeline& host, int quartersPerBar, double barLengthInQuarters) noexcept;
    void playingPath (const HostTimeline& host, int n, double samplesPerQuarter, double barStart, int quartersPerBar) noexcept;
    void holdPlayingBlock (int n) noexcept;
    void stoppedPath (int n) noexcept;
    void tempoStep (double bpm, bool tempoInRange, int n) noexcept;
    void timeSignatureStep (int numerator, int denominator, int n) noexcept;
    void addKeepSyncMessagesIfNeeded (int& lastMark, int n, bool unused) noexcept;
    bool insertKeepSync (int& lastMark, int limit) noexcept;
    void clearSlots (int count) noexcept;

    // Slot of the ring at an offset (possibly negative) from syncBufferWriteIndex.
    uint16_t& slot (int offsetFromWriteIndex) noexcept;
    int ringIndex (int offsetFromWriteIndex) const noexcept;

    std::unique_ptr<uint16_t[]> syncBuffer;
    int syncBufferSize = 0;
    int syncBufferWriteIndex = 0;
    int syncBufferReadIndex = 0;

    TimeData::PlayheadPosition position {};
    RelaxedValue<bool> isPlaying { false };
    int samplesSinceLastMark = 0;
    double lastTempoSent = 0.0;
    int lastTimeSigNumerator = 4;
    int lastTimeSigDenominator = 4;
    double savedBarStartPpq = 0.0;
    bool hostEverReportedBarStart = false;
    int64_t expectedSamplePosition = 0;
    int64_t jumpSize = 0;
    RelaxedValue<int> syncDelay { 0 };
    double minTempo = 30.0;
    double maxTempo = 250.0;
    RelaxedValue<int> displayTempo { 120 };
};

} // namespace veltro
