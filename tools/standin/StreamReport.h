#pragma once

// Decodes what a stand-in takes out of the FIFO and reports it: a readable
// line per musical event on the console (every beat, or every tick when
// verbose) and, optionally, one line per event in a file for tests.

#include "DaemonStandIn.h"
#include "StreamDecoder.h"

#include <array>
#include <cstdint>
#include <ostream>

namespace veltro
{

class StreamReport final : public CodeSink
{
public:
    // `syncRate` turns stream indices into seconds. `events` may be null.
    StreamReport (std::ostream& console, std::ostream* events, bool verbose, double syncRate);

    void receiveCodes (const uint16_t* codes, int count) noexcept override;

    // Reports an item cut short at the end of the stream, and flushes.
    void finish();

    // "stream.*=" summary lines.
    void printSummary (std::ostream& out) const;

    int64_t count (SyncEvent::Kind kind) const noexcept { return counts[static_cast<std::size_t> (kind)]; }
    int64_t codesSeen() const noexcept { return decoder.nextIndex(); }

private:
    void handle (const SyncEvent& e);
    void writeEventLine (const SyncEvent& e);
    void writeConsoleLine (const SyncEvent& e);

    static constexpr std::size_t kKinds = static_cast<std::size_t> (SyncEvent::Kind::broken) + 1;

    std::ostream& console;
    std::ostream* events;
    bool verbose;
    double syncRate;
    StreamDecoder decoder;
    std::array<int64_t, kKinds> counts {};
};

} // namespace veltro
