#include "EncoderRig.h"

#include <algorithm>

namespace veltro::testing
{

EncoderRig::EncoderRig (const Config& c) : config (c), divider (rateDividerFor (c.hostRate))
{
    const int size = c.ringSize > 0 ? c.ringSize : ringSizeFor (c.hostRate, c.maxBlockSize);
    enc.allocate (size);
    enc.resetForPrepare();
    enc.setSyncDelay (c.syncDelay);
    enc.setTempoRange (c.minTempo, c.maxTempo);
    ringOrigins.assign (static_cast<size_t> (size), Origin {});
}

int EncoderRig::rateDividerFor (double hostRate) noexcept
{
    return hostRate > 100000.0 ? 4 : (hostRate > 50000.0 ? 2 : 1);
}

int EncoderRig::ringSizeFor (double hostRate, int maxBlockSize) noexcept
{
    // Block, a tenth of a second, another block for a generic host, and a margin.
    const int d = rateDividerFor (hostRate);
    const int q = maxBlockSize / d;
    const auto r = static_cast<double> (static_cast<int> (hostRate / d));
    return q + static_cast<int> (0.1 * r) + q + 290;
}

void EncoderRig::process (const HostTimeline& host, int hostSamples, std::optional<double> syncRateOverride)
{
    const int total = std::min (hostSamples, config.maxBlockSize) + remainder;
    const int n = total / divider;
    remainder = total % divider;

    BlockRecord rec;
    rec.host = host;
    rec.hostSamples = hostSamples;
    rec.n = n;
    rec.syncStart = syncSamples;
    rec.samplesPerQuarter = syncRate() * 60.0 / host.bpm;

    const bool wasPlaying = enc.getIsPlaying();
    enc.trackHostPosition (host.timeInSamples, hostSamples);
    enc.generateBlock (host, n, syncRateOverride.value_or (syncRate()));

    rec.playing = enc.getIsPlaying();
    rec.started = rec.playing && ! wasPlaying;
    rec.stopped = wasPlaying && ! rec.playing;

    const int blockIndex = static_cast<int> (records.size());
    const int size = enc.getSyncBufferSize();
    if (size > 0 && n >= 1 && n <= size)
    {
        const int w = enc.getWriteIndex();
        if (rec.started)
            for (int i = 0; i < w; ++i)
                ringOrigins[static_cast<size_t> (i)] = { blockIndex, i - w };

        for (int j = 0; j < n; ++j)
            ringOrigins[static_cast<size_t> ((w + j) % size)] = { blockIndex, j };
    }

    enc.advanceWriteIndex (n);

    if (size > 0 && n > 0)
    {
        const int firstRead = enc.getReadIndex();
        const size_t before = codes.size();
        codes.resize (before + static_cast<size_t> (n));
        enc.takeCodes (codes.data() + before, n);
        for (int i = 0; i < n; ++i)
            codeOrigins.push_back (ringOrigins[static_cast<size_t> ((firstRead + i) % size)]);
    }

    syncSamples += n;
    records.push_back (rec);
}

std::vector<SyncEvent> EncoderRig::decode() const
{
    // The stream is only cut where the run ended: an item still incomplete
    // there is not reported.
    std::vector<SyncEvent> events;
    StreamDecoder decoder;
    decoder.consume (codes.data(), codes.size(), [&] (const SyncEvent& e) { events.push_back (e); });
    return events;
}

std::vector<EncoderRig::PlacedEvent> EncoderRig::decodePlaced() const
{
    std::vector<PlacedEvent> placed;
    for (const auto& e : decode())
    {
        PlacedEvent p;
        p.event = e;
        p.origin = codeOrigins[static_cast<size_t> (e.index)];
        p.localTime = p.origin.local + e.fraction / 4096.0;
        placed.push_back (p);
    }
    return placed;
}

double EncoderRig::idealLocalTime (int block, double ppq) const
{
    const auto& r = records[static_cast<size_t> (block)];
    return (ppq - r.host.ppq) * r.samplesPerQuarter;
}

std::vector<SyncEvent> decodeAll (const uint16_t* codes, size_t count)
{
    std::vector<SyncEvent> events;
    StreamDecoder decoder;
    decoder.consume (codes, count, [&] (const SyncEvent& e) { events.push_back (e); });
    for (const auto& e : decoder.flush())
        events.push_back (e);
    return events;
}

std::vector<SyncEvent> eventsOfKind (const std::vector<SyncEvent>& events, SyncEvent::Kind kind)
{
    std::vector<SyncEvent> out;
    std::copy_if (events.begin(), events.end(), std::back_inserter (out), [kind] (const auto& e) { return e.kind == kind; });
    return out;
}

} // namespace veltro::testing
