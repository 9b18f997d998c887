#pragma once

// Reads a stream of sync codes back into what it means, one code per sample.
// Used wherever the stream has to be checked or shown: tests, the device
// stand-in, diagnostics in the daemon. Allocation-free and without system
// calls, so it can sit on an audio thread.

#include <cstddef>
#include <cstdint>

namespace veltro
{

// Bar, beat and tick as the position words carry them.
struct StreamPosition
{
    uint32_t bar = 0;  // 18 bits
    uint32_t beat = 0; // 8 bits
    uint32_t tick = 0; // 0..767

    bool operator== (const StreamPosition&) const = default;
};

struct SyncEvent
{
    enum class Kind : uint8_t
    {
        start,
        stop,
        keepSync,
        tempo,         // bpm
        timeSignature, // numerator, denominator
        tick,          // time, fraction, position (when known)
        position,      // position: the three position words
        marker,
        tokenByte,  // value: the byte
        tokenEnd,
        dawCode,    // value: d
        systemCode, // value: s
        unknown,    // a code outside the table
        broken,     // a tempo pair or position triple that was cut short or carries nonsense
    };

    Kind kind = Kind::unknown;
    int64_t index = 0;  // stream index (sample) of the event's first code
    uint16_t code = 0;  // that code
    int length = 1;     // codes the event spans (2 for tempo, 3 for position; codes seen so far for broken)

    double bpm = 0.0;
    int numerator = 0;
    int denominator = 0;

    int fraction = 0;   // tick: position inside its sample, in 1/4096
    double time = 0.0;  // tick: index + fraction / 4096

    StreamPosition position {};
    bool hasPosition = false;       // tick: its bar/beat/tick is known
    bool positionFromWords = false; // tick: carried by position words since the previous tick, not counted on

    int value = 0;
};

const char* toString (SyncEvent::Kind kind) noexcept;

class StreamDecoder
{
public:
    // One code can end a broken item and be an event of its own.
    static constexpr int kMaxEventsPerCode = 2;

    struct Options
    {
        // The generator writes the codes of a tempo pair or position triple
        // back to back, and by default anything between them breaks the item.
        // The daemon's played stream may pad a callback's end with silence
        // and put markers into silent samples, so a reader of that stream
        // lets silence and markers sit inside an item.
        bool silenceAndMarkersInsideItems = false;
    };

    StreamDecoder() noexcept = default;
    explicit StreamDecoder (const Options& o) noexcept : options (o) {}

    struct Events
    {
        SyncEvent items[kMaxEventsPerCode];
        int count = 0;

        const SyncEvent* begin() const noexcept { return items; }
        const SyncEvent* end() const noexcept { return items + count; }
    };

    // Takes the next code of the stream (its index is the number of codes
    // consumed before it) and returns the events it completes, in the order
    // their last codes arrived.
    Events consume (uint16_t code) noexcept;

    template <typename Callback>
    void consume (const uint16_t* codes, size_t count, Callback&& onEvent)
    {
        for (size_t i = 0; i < count; ++i)
            for (const auto& e : consume (codes[i]))
                onEvent (e);
    }

    // Reports a tempo pair or position triple still waiting for its remaining
    // codes as broken (for the end of a stream) and forgets it.
    Events flush() noexcept;

    void reset() noexcept;

    int64_t nextIndex() const noexcept { return index; }

    // Quarter notes per bar used to count ticks on; from the latest time
    // signature, 4 before any.
    int quartersPerBar() const noexcept { return qpb; }

private:
    enum class Pending : uint8_t
    {
        nothing,
        tempoHigh,
        positionWord1,
        positionWord2,
    };

    void breakPending (Events& out) noexcept;
    static void add (Events& out, const SyncEvent& e) noexcept;
    SyncEvent makeTick (int64_t at, uint16_t code) noexcept;

    Options options {};
    int64_t index = 0;

    Pending pending = Pending::nothing;
    int64_t pendingIndex = 0;
    uint16_t pendingCodes[2] {};

    StreamPosition announced {}; // from position words, for the next tick
    bool hasAnnounced = false;
    StreamPosition lastTick {};
    bool hasLastTick = false;
    int qpb = 4;
};

} // namespace veltro
