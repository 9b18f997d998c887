#pragma once

// Drives a SyncEncoder block by block the way the plug-in's processor does
// (rate divider with carried remainder, ring sized per block and sample rate,
// trackHostPosition, generateBlock, advanceWriteIndex, then the block's codes
// drained from the read index) and keeps the drained codes as one stream.
// For every code of the stream it remembers which block produced it and at
// which sample of that block, so tests can compare decoded tick times with
// the host's timeline of that block.

#include "StreamDecoder.h"
#include "SyncEncoder.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace veltro::testing
{

class EncoderRig
{
public:
    struct Config
    {
        double hostRate = 48000.0;
        int maxBlockSize = 512; // host samples
        int syncDelay = 300;    // sync samples
        int ringSize = 0;       // 0: as the processor sizes it for a generic host
        double minTempo = 30.0;
        double maxTempo = 250.0;
    };

    struct BlockRecord
    {
        HostTimeline host;
        int hostSamples = 0;
        int n = 0;                     // sync samples
        int64_t syncStart = 0;         // sync samples of all earlier blocks
        double samplesPerQuarter = 0.0; // sync samples per quarter at the reported tempo
        bool playing = false;          // the encoder is in the playing state after the block
        bool started = false;          // this block started the stream
        bool stopped = false;          // this block stopped the stream
    };

    // Where a code of the stream came from. local < 0: the delay region that a
    // start fills in front of the starting block.
    struct Origin
    {
        int block = -1;
        int local = 0;
    };

    explicit EncoderRig (const Config& config);

    static int rateDividerFor (double hostRate) noexcept;
    static int ringSizeFor (double hostRate, int maxBlockSize) noexcept;

    // One host block. `syncRateOverride`, when given, replaces the sync sample
    // rate handed to the encoder (to feed it nonsense).
    void process (const HostTimeline& host, int hostSamples, std::optional<double> syncRateOverride = std::nullopt);

    SyncEncoder& encoder() noexcept { return enc; }
    double syncRate() const noexcept { return config.hostRate / divider; }
    int rateDivider() const noexcept { return divider; }

    const std::vector<uint16_t>& stream() const noexcept { return codes; }
    const std::vector<Origin>& origins() const noexcept { return codeOrigins; }
    const std::vector<BlockRecord>& blocks() const noexcept { return records; }

    // The whole stream decoded (an item cut off by the end of the run is left out).
    std::vector<SyncEvent> decode() const;

    // Decoded events with the block and sample that produced their first code;
    // localTime is that sample plus a tick's fraction.
    struct PlacedEvent
    {
        SyncEvent event;
        Origin origin;
        double localTime = 0.0;
    };

    std::vector<PlacedEvent> decodePlaced() const;

    // The ideal time of a tick at `ppq` in the frame of block `block`: sync
    // samples from that block's start at the tempo the host reported for it.
    double idealLocalTime (int block, double ppq) const;

private:
    Config config;
    int divider = 1;
    int remainder = 0;
    int64_t syncSamples = 0;
    SyncEncoder enc;

    std::vector<Origin> ringOrigins;
    std::vector<uint16_t> codes;
    std::vector<Origin> codeOrigins;
    std::vector<BlockRecord> records;
};

// Decodes a whole code array (broken items at the end included).
std::vector<SyncEvent> decodeAll (const uint16_t* codes, size_t count);

inline std::vector<SyncEvent> decodeAll (const std::vector<uint16_t>& codes)
{
    return decodeAll (codes.data(), codes.size());
}

std::vector<SyncEvent> eventsOfKind (const std::vector<SyncEvent>& events, SyncEvent::Kind kind);

} // namespace veltro::testing
