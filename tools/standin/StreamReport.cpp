#include "StreamReport.h"

#include "EventLine.h"

#include <cstdio>
#include <iomanip>

namespace veltro
{

StreamReport::StreamReport (std::ostream& consoleOut, std::ostream* eventsOut, bool printEveryTick, double rate)
    : console (consoleOut), events (eventsOut), verbose (printEveryTick), syncRate (rate > 0.0 ? rate : 48000.0)
{
}

void StreamReport::receiveCodes (const uint16_t* codes, int count) noexcept
{
    // Reporting allocates and writes; it runs on the host's own thread after
    // the stand-in has released the lock, never inside the plug-in.
    try
    {
        decoder.consume (codes, static_cast<size_t> (count), [this] (const SyncEvent& e) { handle (e); });

        if (events != nullptr)
            events->flush();
    }
    catch (...)
    {
    }
}

void StreamReport::finish()
{
    for (const auto& e : decoder.flush())
        handle (e);

    console.flush();
    if (events != nullptr)
        events->flush();
}

void StreamReport::handle (const SyncEvent& e)
{
    ++counts[static_cast<std::size_t> (e.kind)];

    if (events != nullptr)
        writeEventLine (e);

    writeConsoleLine (e);
}

void StreamReport::writeEventLine (const SyncEvent& e)
{
    writeEventFields (*events, e);
    *events << '\n';
}

void StreamReport::writeConsoleLine (const SyncEvent& e)
{
    const bool beat = e.kind == SyncEvent::Kind::tick && e.hasPosition && e.position.tick == 0;
    const bool tickLine = e.kind == SyncEvent::Kind::tick && (verbose || beat);
    const bool quietKind = e.kind == SyncEvent::Kind::tick || e.kind == SyncEvent::Kind::position
                           || e.kind == SyncEvent::Kind::keepSync;

    if (quietKind && ! tickLine && ! verbose)
        return;

    console << std::fixed << std::setprecision (3) << std::setw (9) << static_cast<double> (e.index) / syncRate << " s  ";

    switch (e.kind)
    {
        case SyncEvent::Kind::start: console << "start"; break;
        case SyncEvent::Kind::stop: console << "stop"; break;
        case SyncEvent::Kind::keepSync: console << "keep-sync"; break;
        case SyncEvent::Kind::tempo: console << "tempo " << e.bpm << " bpm"; break;
        case SyncEvent::Kind::timeSignature: console << "time signature " << e.numerator << '/' << e.denominator; break;
        case SyncEvent::Kind::position:
            console << "position bar " << e.position.bar << " beat " << e.position.beat << " tick " << e.position.tick;
            break;
        case SyncEvent::Kind::tick:
            if (! e.hasPosition)
                console << "tick (position unknown)";
            else if (beat && ! verbose)
                console << "bar " << e.position.bar << " beat " << e.position.beat;
            else
                console << "tick bar " << e.position.bar << " beat " << e.position.beat << " tick " << e.position.tick
                        << "  +" << e.fraction << "/4096";
            break;
        case SyncEvent::Kind::broken: console << "BROKEN item at " << hexCode (e.code); break;
        case SyncEvent::Kind::unknown: console << "UNKNOWN code " << hexCode (e.code); break;
        case SyncEvent::Kind::marker:
        case SyncEvent::Kind::tokenByte:
        case SyncEvent::Kind::tokenEnd:
        case SyncEvent::Kind::dawCode:
        case SyncEvent::Kind::systemCode:
            // Codes only the daemon sends: their presence in the FIFO is a fault.
            console << "daemon code in the FIFO: " << toString (e.kind) << ' ' << hexCode (e.code);
            break;
    }

    console << std::defaultfloat << '\n';
}

void StreamReport::printSummary (std::ostream& out) const
{
    out << "stream.codes=" << decoder.nextIndex() << '\n';

    for (std::size_t k = 0; k < kKinds; ++k)
        out << "stream." << toString (static_cast<SyncEvent::Kind> (k)) << '=' << counts[k] << '\n';
}

} // namespace veltro
