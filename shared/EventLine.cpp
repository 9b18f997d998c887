#include "EventLine.h"

#include <cstdio>
#include <iomanip>

namespace veltro
{

std::string hexCode (uint16_t code)
{
    char text[8];
    std::snprintf (text, sizeof text, "0x%04X", code);
    return text;
}

void writeEventFields (std::ostream& out, const SyncEvent& e)
{
    out << toString (e.kind) << " index=" << e.index;

    switch (e.kind)
    {
        case SyncEvent::Kind::tempo:
            out << std::setprecision (17) << " bpm=" << e.bpm;
            break;
        case SyncEvent::Kind::timeSignature:
            out << " numerator=" << e.numerator << " denominator=" << e.denominator;
            break;
        case SyncEvent::Kind::tick:
            out << " fraction=" << e.fraction << std::setprecision (17) << " time=" << e.time;
            if (e.hasPosition)
                out << " bar=" << e.position.bar << " beat=" << e.position.beat << " tick=" << e.position.tick
                    << " fromWords=" << (e.positionFromWords ? 1 : 0);
            break;
        case SyncEvent::Kind::position:
            out << " bar=" << e.position.bar << " beat=" << e.position.beat << " tick=" << e.position.tick;
            break;
        case SyncEvent::Kind::tokenByte:
        case SyncEvent::Kind::dawCode:
        case SyncEvent::Kind::systemCode:
            out << " value=" << e.value;
            break;
        case SyncEvent::Kind::broken:
        case SyncEvent::Kind::unknown:
            out << " code=" << hexCode (e.code) << " length=" << e.length;
            break;
        case SyncEvent::Kind::start:
        case SyncEvent::Kind::stop:
        case SyncEvent::Kind::keepSync:
        case SyncEvent::Kind::marker:
        case SyncEvent::Kind::tokenEnd:
            break;
    }

}

} // namespace veltro
