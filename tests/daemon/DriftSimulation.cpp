#include "DriftSimulation.h"

#include "PlayoutEngine.h"
#include "SharedMemory.h"
#include "StreamDecoder.h"
#include "SyncCodes.h"
#include "SyncEncoder.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <vector>

namespace veltro::testing
{

namespace
{

constexpr int kSyncDelay = 300;

// A tick as the encoder placed it (host samples) with its position.
struct PlacedTick
{
    double time;
    StreamPosition position;
};

bool isDaemonCode (uint16_t code) noexcept
{
    return code == SyncCode::marker || (code >= SyncCode::tokenByteBase && code < SyncCode::systemCodeBase + 0x100);
}

struct Producer
{
    Producer (double rate, int block) : sampleRate (rate), blockSize (block)
    {
        // As the plug-in sizes its ring: a block, a tenth of a second, a block, a margin.
        encoder.allocate (block + static_cast<int> (0.1 * rate) + block + 290);
        encoder.resetForPrepare();
        encoder.setSyncDelay (kSyncDelay);
        encoder.setTempoRange (30.0, 250.0);
    }

    void runBlock (SharedMemory& m, double bpm, DriftResult& r, std::deque<PlacedTick>& ticks,
                   std::vector<uint16_t>& nonZero)
    {
        HostTimeline host;
        host.isPlaying = true;
        host.bpm = bpm;
        host.ppq = static_cast<double> (position) * bpm / (60.0 * sampleRate);
        host.hasBarStart = true;
        host.barStartPpq = std::floor (host.ppq / 4.0) * 4.0;
        host.hasTimeSignature = true;
        host.timeInSamples = position;

        encoder.trackHostPosition (position, blockSize);
        encoder.generateBlock (host, blockSize, sampleRate);
        encoder.advanceWriteIndex (blockSize);

        const auto w = fifo::loadWriteIndex (m);
        const auto room = fifo::freeSpace (w, fifo::loadReadIndex (m));
        const auto count = std::min (static_cast<uint32_t> (blockSize), room);
        r.codesRefused += blockSize - static_cast<int64_t> (count);

        for (uint32_t k = 0; k < count; ++k)
        {
            const uint16_t code = encoder.takeNextCode();
            m.samples[fifo::writeSlot (w, k)] = code;

            if (code != SyncCode::silence)
                nonZero.push_back (code);

            for (const auto& e : decoder.consume (code))
                if (e.kind == SyncEvent::Kind::tick)
                {
                    ticks.push_back ({ e.time, e.position });
                    ++r.ticksProduced;
                }
        }

        m.writeIndex.store (fifo::advance (w, count));
        position += blockSize;
    }

    double sampleRate;
    int blockSize;
    int64_t position = 0;
    SyncEncoder encoder;
    StreamDecoder decoder;
};

} // namespace

DriftResult runDriftSimulation (const DriftCase& c)
{
    DriftResult r;

    auto memory = std::make_unique<SharedMemory>();
    auto& m = *memory;
    initialiseSharedMemory (m);
    m.pluginEnabled.store (SharedMemory::channelStreaming);
    m.nominalBlockSize.store (c.hostBlock);
    m.actualBlockSize.store (c.hostBlock);

    daemon::PlayoutEngine engine (SyncCode::System::onLinux);
    engine.prepareForSetup (c.hostBlock, c.hostBlock);
    engine.playoutSuspended = false;
    RelaxedValue<bool> deviceTypeUpdateNeeded { false };

    Producer producer (c.sampleRate, c.hostBlock);
    StreamDecoder deviceDecoder;
    std::deque<PlacedTick> pendingTicks;
    std::vector<uint16_t> produced;
    produced.reserve (1 << 16);
    size_t producedChecked = 0;

    std::vector<float> out (static_cast<size_t> (c.deviceCallback));

    const double hostPeriod = c.hostBlock / c.sampleRate;
    const double deviceRate = c.sampleRate * (1.0 + c.ppm * 1.0e-6);
    const double devicePeriod = c.deviceCallback / deviceRate;
    const double ratio = deviceRate / c.sampleRate; // device samples per host sample

    // The first device callback comes a little after the first host block, at
    // a phase that is not a simple fraction of either period.
    double nextHost = hostPeriod;
    double nextDevice = 0.37 * devicePeriod + hostPeriod;
    int64_t deviceSamples = 0;
    const int64_t settleSamples = static_cast<int64_t> (c.settleSeconds * deviceRate);
    const int64_t minuteSamples = static_cast<int64_t> (60.0 * deviceRate);
    const int64_t endSamples = static_cast<int64_t> (c.seconds * deviceRate);

    double sum = 0.0, sumSquares = 0.0, firstSum = 0.0, lastSum = 0.0;
    int64_t count = 0, firstCount = 0, lastCount = 0;
    int64_t lastMarker = -1;
    bool settled = false;
    daemon::FillControl::Counters countersAtSettle {};
    auto resetFill = [&] { r.minFill = 1 << 30; r.maxFill = 0; };
    resetFill();

    while (deviceSamples < endSamples)
    {
        if (nextHost <= nextDevice)
        {
            producer.runBlock (m, c.bpm, r, pendingTicks, produced);
            nextHost += hostPeriod;
            continue;
        }

        nextDevice += devicePeriod;
        const int n = c.deviceCallback;
        std::fill (out.begin(), out.end(), 0.0f);

        const bool afterSettle = deviceSamples >= settleSamples;
        if (afterSettle && ! settled)
        {
            settled = true;
            countersAtSettle = engine.fill.counters;
            engine.stats.shortReads = 0;
        }

        const int available = static_cast<int> (fifo::available (fifo::loadWriteIndex (m), fifo::loadReadIndex (m)));
        if (afterSettle)
        {
            r.minFill = std::min (r.minFill, available);
            r.maxFill = std::max (r.maxFill, available);
        }

        const auto outcome = engine.processLocked (m, out.data(), n, deviceTypeUpdateNeeded, SharedMemory::tactora);
        engine.finishBlock (outcome, out.data(), n);

        for (int i = 0; i < n; ++i)
        {
            const uint16_t code = SyncCode::fromSample (out[static_cast<size_t> (i)]);
            const int64_t at = deviceSamples + i;

            if (code == SyncCode::marker && at > settleSamples)
            {
                if (lastMarker >= 0)
                    r.maxMarkerGap = std::max (r.maxMarkerGap, static_cast<int> (at - lastMarker));
                lastMarker = at;
                ++r.markersPlayed;
            }

            if (code != SyncCode::silence && ! isDaemonCode (code))
            {
                if (producedChecked >= produced.size() || produced[producedChecked] != code)
                    ++r.nonZeroMismatches;
                ++producedChecked;
            }

            for (const auto& e : deviceDecoder.consume (code))
            {
                if (e.kind != SyncEvent::Kind::tick)
                    continue;

                ++r.ticksPlayed;
                if (pendingTicks.empty())
                {
                    ++r.positionMismatches;
                    continue;
                }

                const auto placed = pendingTicks.front();
                pendingTicks.pop_front();
                if (! (placed.position == e.position))
                    ++r.positionMismatches;

                if (! afterSettle)
                    continue;

                const double offset = e.time - placed.time * ratio;
                if (count == 0)
                    r.offsetMin = r.offsetMax = offset;
                r.offsetMin = std::min (r.offsetMin, offset);
                r.offsetMax = std::max (r.offsetMax, offset);
                sum += offset;
                sumSquares += offset * offset;
                ++count;

                if (at < settleSamples + minuteSamples)
                {
                    firstSum += offset;
                    ++firstCount;
                }
                if (at >= endSamples - minuteSamples)
                {
                    lastSum += offset;
                    ++lastCount;
                }
            }
        }

        // Drop what both sides have seen, so a long run stays small.
        if (producedChecked > (1u << 15))
        {
            produced.erase (produced.begin(), produced.begin() + static_cast<std::ptrdiff_t> (producedChecked));
            producedChecked = 0;
        }

        deviceSamples += n;
    }

    r.silenceInserted = engine.stats.silenceInserted;
    r.zerosDropped = engine.stats.zerosDropped;
    r.shortReadsAfterSettle = engine.stats.shortReads;
    const auto& k = engine.fill.counters;
    r.nudges = k.nudgesUp + k.nudgesDown;
    r.emergencyCorrections = (k.emergencyPads - countersAtSettle.emergencyPads) + (k.emergencyDrops - countersAtSettle.emergencyDrops)
                             + (k.excessDrops - countersAtSettle.excessDrops);

    if (count > 0)
    {
        r.offsetMean = sum / static_cast<double> (count);
        r.jitterRms = std::sqrt (std::max (0.0, sumSquares / static_cast<double> (count) - r.offsetMean * r.offsetMean));
    }
    if (firstCount > 0) r.meanFirstMinute = firstSum / static_cast<double> (firstCount);
    if (lastCount > 0) r.meanLastMinute = lastSum / static_cast<double> (lastCount);

    return r;
}

} // namespace veltro::testing
