#include "SyncEncoder.h"

#include "SyncCodes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace veltro
{

namespace
{
constexpr double kQuarterToTick = 0.0013020833333333333; // 1 / 768, as the device's clock uses it
constexpr int kMarkLimit = SyncEncoder::kKeepSyncInterval + 1; // a gap this long needs a keep-sync

// A tick placed less than this far into a block after a position jump is moved
// to sample 3, so the three position words fit in front of it.
constexpr int32_t kJumpMinScaled = 0x3000;
constexpr int kJumpTickSample = 3;

// The sample position must move this far off the expected one for a jump to
// count as a relocation (and restart the bar counter).
constexpr int64_t kRelocationSamples = 4;

// The start code and its position words occupy ring slots 0..3.
constexpr int kStartCodesLength = 4;

// Beyond this many quarter notes a double no longer places a tick to a
// fraction of a sample; such a position is treated as unusable.
constexpr double kMaxUsablePpq = 1.0e9;

int clampToInt (double v, int lo, int hi) noexcept
{
    if (! (v >= static_cast<double> (lo)))
        return lo;
    if (v >= static_cast<double> (hi))
        return hi;
    return static_cast<int> (v);
}
} // namespace

// ---------------------------------------------------------------- set-up

bool SyncEncoder::allocate (int size)
{
    syncBuffer.reset();
    syncBufferSize = 0;
    syncBufferWriteIndex = 0;
    syncBufferReadIndex = 0;

    if (size > 0)
    {
        syncBuffer.reset (new (std::nothrow) uint16_t[static_cast<size_t> (size)]());
        if (syncBuffer != nullptr)
            syncBufferSize = size;
    }

    setSyncDelay (syncDelay.load());
    return syncBuffer != nullptr;
}

void SyncEncoder::resetForPrepare() noexcept
{
    syncBufferWriteIndex = 0;
    syncBufferReadIndex = 0;
    position = {};
    lastTempoSent = 0.0;
    lastTimeSigNumerator = 0;
    savedBarStartPpq = 0.0;
}

void SyncEncoder::setSyncDelay (int delay) noexcept
{
    if (syncBuffer == nullptr || syncBufferSize <= 0)
        syncDelay = 0;
    else
        syncDelay = std::clamp (delay, 0, syncBufferSize - 1);
}

// ---------------------------------------------------------------- audio thread

void SyncEncoder::forceTempoAndTimeSignature() noexcept
{
    lastTempoSent = 0.0;
    lastTimeSigNumerator = 0;
}

void SyncEncoder::restartStream() noexcept
{
    isPlaying = false;
    forceTempoAndTimeSignature();
}

void SyncEncoder::setTempoRange (double newMinTempo, double newMaxTempo) noexcept
{
    minTempo = newMinTempo;
    maxTempo = newMaxTempo;
}

void SyncEncoder::trackHostPosition (int64_t hostSamplePosition, int hostSampleCount) noexcept
{
    // Magnitude of the difference without signed overflow, saturated.
    const auto e = static_cast<uint64_t> (expectedSamplePosition);
    const auto p = static_cast<uint64_t> (hostSamplePosition);
    const uint64_t magnitude = expectedSamplePosition >= hostSamplePosition ? e - p : p - e;
    constexpr auto maxJump = static_cast<uint64_t> (std::numeric_limits<int64_t>::max());
    jumpSize = static_cast<int64_t> (std::min (magnitude, maxJump));

    const int64_t count = std::max (hostSampleCount, 0);
    if (hostSamplePosition > std::numeric_limits<int64_t>::max() - count)
        expectedSamplePosition = std::numeric_limits<int64_t>::max();
    else
        expectedSamplePosition = hostSamplePosition + count;
}

void SyncEncoder::generateBlock (const HostTimeline& host, int n, double syncSampleRate) noexcept
{
    if (syncBuffer == nullptr || n < 1 || n > syncBufferSize)
        return;

    // A time signature with a part <= 0 is no time signature: count 4/4.
    const bool signatureUsable = host.hasTimeSignature && host.numerator > 0 && host.denominator > 0;
    const int numerator = signatureUsable ? host.numerator : 4;
    const int denominator = signatureUsable ? host.denominator : 4;
    const int qpb = TimeData::quartersPerBar (numerator, denominator);

    const double bpm = host.bpm;
    const bool tempoInRange = minTempo <= bpm && bpm <= maxTempo; // false for NaN

    // At least one sample per tick: keeps ticks in distinct samples and the
    // tick loop bounded whatever rate and tempo range we are handed.
    const double samplesPerQuarter = syncSampleRate * 60.0 / bpm;
    const bool rateUsable = std::isfinite (samplesPerQuarter) && samplesPerQuarter * kQuarterToTick >= 1.0;
    const bool ppqUsable = std::isfinite (host.ppq) && std::fabs (host.ppq) <= kMaxUsablePpq;

    const double barStart = chooseBarStart (host, qpb, 4.0 * numerator / denominator);

    if (host.isPlaying && tempoInRange && rateUsable)
    {
        if (ppqUsable)
            playingPath (host, n, samplesPerQuarter, barStart, qpb);
        else if (isPlaying.load())
            holdPlayingBlock (n); // position unknown for one block: keep the device running, place no ticks
        else
            stoppedPath (n);
    }
    else
    {
        stoppedPath (n);
    }

    tempoStep (bpm, tempoInRange, n);
    timeSignatureStep (numerator, denominator, n);
}

void SyncEncoder::advanceWriteIndex (int n) noexcept
{
    if (syncBuffer == nullptr || n <= 0)
        return;

    syncBufferWriteIndex = static_cast<int> ((static_cast<int64_t> (syncBufferWriteIndex) + n) % syncBufferSize);
}

uint16_t SyncEncoder::takeNextCode() noexcept
{
    if (syncBuffer == nullptr)
        return SyncCode::silence;

    const uint16_t code = syncBuffer[static_cast<size_t> (syncBufferReadIndex)];
    syncBufferReadIndex = (syncBufferReadIndex + 1) % syncBufferSize;
    return code;
}

void SyncEncoder::takeCodes (uint16_t* dest, int count) noexcept
{
    if (count <= 0)
        return;

    if (syncBuffer == nullptr)
    {
        std::fill (dest, dest + count, SyncCode::silence);
        return;
    }

    // At most two contiguous pieces of the ring; count may exceed the ring size
    // only through a caller's error, so the loop stays bounded either way.
    while (count > 0)
    {
        const int chunk = std::min (count, syncBufferSize - syncBufferReadIndex);
        std::copy_n (syncBuffer.get() + syncBufferReadIndex, chunk, dest);
        dest += chunk;
        count -= chunk;
        syncBufferReadIndex = (syncBufferReadIndex + chunk) % syncBufferSize;
    }
}

// ---------------------------------------------------------------- generator steps

double SyncEncoder::chooseBarStart (const HostTimeline& host, int qpb, double barLength) noexcept
{
    // A bar start after the position, or more than a bar before it, describes
    // some other bar: one host reports the next bar's start, counted in 4/4
    // whatever the meter. Such a value is no better than none.
    const double tolerance = 1.0 / TimeData::kTicksPerQuarter;
    const auto fitsThePosition = [&] (double barStart) {
        return ! std::isfinite (host.ppq)
               || (barStart <= host.ppq + tolerance && host.ppq - barStart < barLength + tolerance);
    };

    if (host.hasBarStart && std::isfinite (host.barStartPpq) && fitsThePosition (host.barStartPpq))
    {
        hostEverReportedBarStart = true;
        return host.barStartPpq;
    }

    // One that reported bar starts before and skips one now: keep the last,
    // as long as the transport is still inside that bar.
    if (hostEverReportedBarStart && host.isPlaying && host.ppq >= 0.0 && fitsThePosition (savedBarStartPpq))
        return savedBarStartPpq;

    // Otherwise assume bars of the current length counted from the song
    // start, so beats still fall on the beat.
    if (std::isfinite (host.ppq) && host.ppq >= 0.0)
        return std::floor (host.ppq / qpb) * qpb;
    return 0.0;
}

void SyncEncoder::playingPath (const HostTimeline& host, int n, double samplesPerQuarter, double barStart, int qpb) noexcept
{
    savedBarStartPpq = barStart;
    const double samplesPerTick = samplesPerQuarter * kQuarterToTick;

    TimeData::PlayheadPosition next {};
    next.bar = position.bar;
    const double nextTickPpq = TimeData::computeNextTickPos (host.ppq, barStart, qpb, next);

    int minTickSample = 0; // no tick may land before this slot of the block

    if (! isPlaying.load())
    {
        isPlaying = true;

        std::fill (syncBuffer.get(), syncBuffer.get() + syncBufferSize, SyncCode::silence);
        syncBufferReadIndex = 0;
        syncBufferWriteIndex = std::clamp (syncDelay.load(), 0, syncBufferSize - 1);

        syncBuffer[0] = SyncCode::start;
        next.bar = 0;
        position = next;
        TimeData::savePlayheadPositionIntoFIFO (position, syncBuffer.get(), 1, syncBufferSize);

        lastTempoSent = 0.0;
        lastTimeSigNumerator = 0;
        samplesSinceLastMark = 0;

        // The delay region is silent apart from these, which tell the device
        // the stream is alive until the first block arrives.
        if (syncBufferWriteIndex >= kStartKeepSyncSpacing + 1)
            for (int p = kStartKeepSyncSpacing; p < syncBufferWriteIndex; p += kStartKeepSyncSpacing)
                syncBuffer[static_cast<size_t> (p)] = SyncCode::keepSync;

        // With a delay shorter than the start codes the block begins on top of them.
        minTickSample = std::max (0, kStartCodesLength - syncBufferWriteIndex);
    }
    else
    {
        clearSlots (n);
    }

    double offset = samplesPerQuarter * (nextTickPpq - host.ppq);
    TimeData::TickPlacement placement = TimeData::placeTick (offset);
    int tickSample = placement.sample;
    uint16_t tickCode = placement.code;

    const int diff = position.computeDifference (next, qpb);

    if (diff >= 1 && diff <= kMaxCatchUpTicks)
    {
        // The host is ahead: send the missing ticks at once, one per sample,
        // leaving room for position words; the regular tick goes behind the run.
        const int runLength = std::min (diff, n - 4);
        for (int i = 0; i < runLength; ++i)
        {
            slot (i) = SyncCode::tickBase;
            if (i >= tickSample)
            {
                tickSample += 1;
                tickCode = SyncCode::tickBase;
            }
        }

        // Those ticks may have crossed a bar line; the bar counts on with them.
        TimeData::PlayheadPosition counted = position;
        for (int i = 0; i < diff; ++i)
            counted.advanceByOneTick (qpb);
        next.bar = counted.bar;
    }
    else if (diff > kMaxCatchUpTicks || diff < -kMaxCatchUpTicks)
    {
        // Position jump. A relocated transport restarts the bar count.
        if (jumpSize >= kRelocationSamples)
            next.bar = 0;

        if (placement.scaled < kJumpMinScaled)
        {
            tickSample = kJumpTickSample;
            tickCode = SyncCode::tickBase;
        }
    }
    else if (diff < 0)
    {
        // The host is behind our count: those ticks are already out. Wait for
        // the host to catch up rather than send any tick twice.
        for (int i = 0; i < -diff; ++i)
        {
            next.advanceByOneTick (qpb);
            offset += samplesPerTick;
        }
        placement = TimeData::placeTick (offset);
        tickSample = placement.sample;
        tickCode = placement.code;

        // The tick now due is the one our count already holds, bar included.
        next.bar = position.bar;
    }

    position = next;

    if (tickSample < minTickSample)
    {
        tickSample = minTickSample;
        tickCode = SyncCode::tickBase;
    }

    // Position words in front of the first tick, after whatever already
    // occupies the start of the block.
    int occupied = 0;
    while (occupied < n && slot (occupied) != SyncCode::silence)
        ++occupied;

    if (occupied + 2 < n && occupied + 2 < tickSample)
        TimeData::savePlayheadPositionIntoFIFO (position, syncBuffer.get(), ringIndex (occupied), syncBufferSize);

    // Tick loop.
    int lastMark = -samplesSinceLastMark;
    while (tickSample < n)
    {
        // A tick never lands on or before the previous one (after a catch-up
        // run or a moved tick the next regular tick may fall inside).
        if (tickSample < minTickSample)
        {
            tickSample = minTickSample;
            tickCode = SyncCode::tickBase;
            if (tickSample >= n)
                break;
        }

        samplesSinceLastMark = tickSample - lastMark;
        while (samplesSinceLastMark >= kMarkLimit)
        {
            if (! insertKeepSync (lastMark, tickSample))
            {
                samplesSinceLastMark = 0;
                break;
            }
        }

        slot (tickSample) = tickCode;
        position.advanceByOneTick (qpb);

        if (tickSample + 3 < n)
            TimeData::savePlayheadPositionIntoFIFO (position, syncBuffer.get(), ringIndex (tickSample + 1), syncBufferSize);

        lastMark = clampToInt (offset, -1, n);
        minTickSample = tickSample + 1;

        offset += samplesPerTick;
        placement = TimeData::placeTick (offset);
        tickSample = placement.sample;
        tickCode = placement.code;
    }

    addKeepSyncMessagesIfNeeded (lastMark, n, false);
}

void SyncEncoder::holdPlayingBlock (int n) noexcept
{
    clearSlots (n);
    int lastMark = -samplesSinceLastMark;
    addKeepSyncMessagesIfNeeded (lastMark, n, false);
}

void SyncEncoder::addKeepSyncMessagesIfNeeded (int& lastMark, int n, bool /*unused*/) noexcept
{
    samplesSinceLastMark = n - lastMark;
    while (samplesSinceLastMark >= kMarkLimit)
    {
        if (! insertKeepSync (lastMark, n))
        {
            samplesSinceLastMark = kKeepSyncInterval;
            break;
        }
    }
}

bool SyncEncoder::insertKeepSync (int& lastMark, int limit) noexcept
{
    // Latest free slot that still closes the gap, searching back towards the
    // last mark (and at most into the previous block's last slot)...
    int p = lastMark + kKeepSyncInterval;
    if (lastMark >= -kKeepSyncInterval)
        while (p >= 0 && slot (p) != SyncCode::silence)
            --p;

    // ...or else the first free slot after the gap.
    if (p < 0)
    {
        p = lastMark + kMarkLimit;
        while (p < limit && slot (p) != SyncCode::silence)
            ++p;
    }

    // Slot 0 is a free slot like any other: refusing it would let a gap that
    // ends exactly at a block boundary grow without bound.
    if (p < 0 || p >= limit)
        return false;

    slot (p) = SyncCode::keepSync;
    lastMark = p;
    samplesSinceLastMark = limit - p;
    return true;
}

void SyncEncoder::stoppedPath (int n) noexcept
{
    // Stopped codes go out at once: no delay while stopped.
    std::fill (syncBuffer.get(), syncBuffer.get() + n, SyncCode::silence);
    syncBufferReadIndex = 0;
    syncBufferWriteIndex = 0;

    if (isPlaying.load())
    {
        // Whatever still waits in the delay region is dropped with the indices.
        isPlaying = false;
        syncBuffer[0] = SyncCode::stop;
        lastTempoSent = 0.0;
        lastTimeSigNumerator = 0;
        savedBarStartPpq = 0.0;
    }
}

void SyncEncoder::tempoStep (double bpm, bool tempoInRange, int n) noexcept
{
    if (bpm == lastTempoSent) // a NaN on either side always retries
        return;

    int k = 0;
    while (k + 1 < n && ! (slot (k) == SyncCode::silence && slot (k + 1) == SyncCode::silence))
        k += 2;

    if (k + 1 >= n)
        return; // no room for the pair in this block; try again in the next

    if (const auto pair = SyncCode::tempoPair (bpm))
    {
        slot (k) = pair->high;
        slot (k + 1) = pair->low;
    }
    lastTempoSent = bpm;

    if (tempoInRange && std::fabs (bpm) < 1.0e9)
    {
        const auto rounded = static_cast<uint16_t> (static_cast<uint64_t> (std::llround (bpm)) & 0xFFFFu);
        displayTempo = static_cast<int> (static_cast<int16_t> (rounded));
    }
}

void SyncEncoder::timeSignatureStep (int numerator, int denominator, int n) noexcept
{
    if (numerator == lastTimeSigNumerator && denominator == lastTimeSigDenominator)
        return;

    for (int k = 0; k < n; ++k)
    {
        if (slot (k) == SyncCode::silence)
        {
            slot (k) = SyncCode::timeSignature (numerator, denominator);
            lastTimeSigNumerator = numerator;
            lastTimeSigDenominator = denominator;
            return;
        }
    }
}

void SyncEncoder::clearSlots (int count) noexcept
{
    for (int i = 0; i < count; ++i)
        slot (i) = SyncCode::silence;
}

int SyncEncoder::ringIndex (int offsetFromWriteIndex) const noexcept
{
    const int64_t i = (static_cast<int64_t> (syncBufferWriteIndex) + offsetFromWriteIndex) % syncBufferSize;
    return static_cast<int> (i < 0 ? i + syncBufferSize : i);
}

uint16_t& SyncEncoder::slot (int offsetFromWriteIndex) noexcept
{
    return syncBuffer[static_cast<size_t> (ringIndex (offsetFromWriteIndex))];
}

} // namespace veltro
