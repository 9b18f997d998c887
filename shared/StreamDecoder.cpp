#include "StreamDecoder.h"

#include "SyncCodes.h"

namespace veltro
{

namespace
{
constexpr int kTicksPerQuarter = SyncCode::kTicksPerQuarter;

// Counting on from the previous tick, the way the device does without words.
StreamPosition advanced (StreamPosition p, int quartersPerBar) noexcept
{
    if (++p.tick < static_cast<uint32_t> (kTicksPerQuarter))
        return p;

    p.tick = 0;
    p.beat = (p.beat + 1) & 0xFFu;
    if (p.beat >= static_cast<uint32_t> (quartersPerBar))
    {
        p.beat = 0;
        p.bar = (p.bar + 1) & 0x3FFFFu;
    }
    return p;
}

SyncEvent simple (SyncEvent::Kind kind, int64_t index, uint16_t code, int value = 0) noexcept
{
    SyncEvent e;
    e.kind = kind;
    e.index = index;
    e.code = code;
    e.value = value;
    return e;
}
} // namespace

const char* toString (SyncEvent::Kind kind) noexcept
{
    switch (kind)
    {
        case SyncEvent::Kind::start: return "start";
        case SyncEvent::Kind::stop: return "stop";
        case SyncEvent::Kind::keepSync: return "keepSync";
        case SyncEvent::Kind::tempo: return "tempo";
        case SyncEvent::Kind::timeSignature: return "timeSignature";
        case SyncEvent::Kind::tick: return "tick";
        case SyncEvent::Kind::position: return "position";
        case SyncEvent::Kind::marker: return "marker";
        case SyncEvent::Kind::tokenByte: return "tokenByte";
        case SyncEvent::Kind::tokenEnd: return "tokenEnd";
        case SyncEvent::Kind::dawCode: return "dawCode";
        case SyncEvent::Kind::systemCode: return "systemCode";
        case SyncEvent::Kind::unknown: return "unknown";
        case SyncEvent::Kind::broken: return "broken";
    }
    return "?";
}

void StreamDecoder::reset() noexcept
{
    *this = StreamDecoder { options };
}

void StreamDecoder::add (Events& out, const SyncEvent& e) noexcept
{
    if (out.count < kMaxEventsPerCode)
        out.items[out.count++] = e;
}

void StreamDecoder::breakPending (Events& out) noexcept
{
    if (pending == Pending::nothing)
        return;

    SyncEvent e = simple (SyncEvent::Kind::broken, pendingIndex, pendingCodes[0]);
    e.length = pending == Pending::positionWord2 ? 2 : 1;
    add (out, e);

    // Words cut short were meant to replace any earlier ones: the next tick
    // counts on instead of taking a stale position.
    if (pending != Pending::tempoHigh)
        hasAnnounced = false;

    pending = Pending::nothing;
}

StreamDecoder::Events StreamDecoder::flush() noexcept
{
    Events out;
    breakPending (out);
    return out;
}

SyncEvent StreamDecoder::makeTick (int64_t at, uint16_t code) noexcept
{
    SyncEvent e = simple (SyncEvent::Kind::tick, at, code);
    e.fraction = code & 0xFFF;
    e.time = static_cast<double> (at) + e.fraction / static_cast<double> (SyncCode::kTickFractionSteps);

    if (hasAnnounced)
    {
        e.position = announced;
        e.hasPosition = true;
        e.positionFromWords = true;
        hasAnnounced = false;
    }
    else if (hasLastTick)
    {
        e.position = advanced (lastTick, qpb);
        e.hasPosition = true;
    }

    hasLastTick = e.hasPosition;
    lastTick = e.position;
    return e;
}

StreamDecoder::Events StreamDecoder::consume (uint16_t code) noexcept
{
    Events out;
    const int64_t at = index++;
    const uint16_t type = SyncCode::typeOf (code);

    if (pending != Pending::nothing && options.silenceAndMarkersInsideItems)
    {
        if (code == SyncCode::silence)
            return out;
        if (code == SyncCode::marker)
        {
            add (out, simple (SyncEvent::Kind::marker, at, code));
            return out;
        }
    }

    // Continuations of a pending multi-code item must follow it directly.
    if (pending == Pending::tempoHigh && type == 0x7 && code < SyncCode::tempoHighBase)
    {
        const uint32_t v = ((static_cast<uint32_t> (pendingCodes[0]) & 0x7FFu) << 11) | (code & 0x7FFu);
        SyncEvent e = simple (SyncEvent::Kind::tempo, pendingIndex, pendingCodes[0]);
        e.length = 2;
        e.bpm = v / 2048.0;
        pending = Pending::nothing;
        add (out, e);
        return out;
    }

    if (pending == Pending::positionWord1 && type == 0xC)
    {
        pendingCodes[1] = code;
        pending = Pending::positionWord2;
        return out;
    }

    if (pending == Pending::positionWord2 && type == 0xD)
    {
        StreamPosition p;
        p.bar = ((pendingCodes[0] & 0xFFFu) << 6) | ((pendingCodes[1] >> 6) & 0x3Fu);
        p.beat = ((pendingCodes[1] & 0x3Fu) << 2) | ((code >> 10) & 0x3u);
        p.tick = code & 0x3FFu;
        pending = Pending::nothing;

        SyncEvent e = simple (SyncEvent::Kind::position, pendingIndex, pendingCodes[0]);
        e.length = 3;
        e.position = p;

        if (p.tick >= static_cast<uint32_t> (kTicksPerQuarter))
        {
            e.kind = SyncEvent::Kind::broken;
            hasAnnounced = false;
        }
        else
        {
            announced = p;
            hasAnnounced = true;
        }
        add (out, e);
        return out;
    }

    breakPending (out);

    switch (type)
    {
        case 0x0:
            if (code != SyncCode::silence)
                add (out, simple (SyncEvent::Kind::unknown, at, code));
            return out;

        case 0x5:
            if (code == SyncCode::start || code == SyncCode::stop)
            {
                // A new run of the transport: nothing counts on across it.
                hasAnnounced = false;
                hasLastTick = false;
                add (out, simple (code == SyncCode::start ? SyncEvent::Kind::start : SyncEvent::Kind::stop, at, code));
            }
            else if (code == SyncCode::keepSync)
                add (out, simple (SyncEvent::Kind::keepSync, at, code));
            else if (code == SyncCode::marker)
                add (out, simple (SyncEvent::Kind::marker, at, code));
            else if (code == SyncCode::tokenEnd)
                add (out, simple (SyncEvent::Kind::tokenEnd, at, code));
            else if ((code & 0xFF00u) == SyncCode::tokenByteBase)
                add (out, simple (SyncEvent::Kind::tokenByte, at, code, code & 0xFF));
            else if ((code & 0xFF00u) == SyncCode::dawCodeBase)
                add (out, simple (SyncEvent::Kind::dawCode, at, code, code & 0xFF));
            else if ((code & 0xFF00u) == SyncCode::systemCodeBase)
                add (out, simple (SyncEvent::Kind::systemCode, at, code, code & 0xFF));
            else
                add (out, simple (SyncEvent::Kind::unknown, at, code));
            return out;

        case 0x6:
        {
            SyncEvent e = simple (SyncEvent::Kind::timeSignature, at, code);
            e.numerator = (code >> 4) & 0xFF;
            // The code carries half the denominator in four bits, so 1 and 32 both read as 0.
            const int half = code & 0xF;
            e.denominator = half == 0 ? 1 : half * 2;
            if (e.numerator > 0)
            {
                const int q = e.numerator * 4 / e.denominator;
                qpb = q < 1 ? 1 : (q > 256 ? 256 : q);
            }
            add (out, e);
            return out;
        }

        case 0x7:
            if (code >= SyncCode::tempoHighBase)
            {
                pending = Pending::tempoHigh;
                pendingIndex = at;
                pendingCodes[0] = code;
            }
            else
            {
                // The low half of a pair without its high half.
                add (out, simple (SyncEvent::Kind::broken, at, code));
            }
            return out;

        case 0xA:
            add (out, makeTick (at, code));
            return out;

        case 0xB:
            pending = Pending::positionWord1;
            pendingIndex = at;
            pendingCodes[0] = code;
            return out;

        case 0xC:
        case 0xD:
            // A later position word without the ones before it.
            add (out, simple (SyncEvent::Kind::broken, at, code));
            return out;

        default:
            add (out, simple (SyncEvent::Kind::unknown, at, code));
            return out;
    }
}

} // namespace veltro
