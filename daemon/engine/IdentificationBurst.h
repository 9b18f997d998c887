#pragma once

// The identification burst that opens playout: marker, token, token end,
// DAW code and system code, one code per sample.

#include "HostIds.h"
#include "SyncCodes.h"

#include <array>
#include <cstdint>

namespace veltro::daemon
{

inline constexpr int kBurstLength = 19;

inline constexpr std::array<uint16_t, kBurstLength> identificationBurst (uint16_t hostType, SyncCode::System system) noexcept
{
    std::array<uint16_t, kBurstLength> codes {};
    int i = 0;
    codes[static_cast<size_t> (i++)] = SyncCode::marker;
    for (auto byte : SyncCode::identificationToken)
        codes[static_cast<size_t> (i++)] = SyncCode::tokenByte (byte);
    codes[static_cast<size_t> (i++)] = SyncCode::tokenEnd;
    codes[static_cast<size_t> (i++)] = SyncCode::dawCode (HostId::dawCodeForHost (hostType));
    codes[static_cast<size_t> (i++)] = SyncCode::systemCode (system);
    return codes;
}

// The system code for a bit set of the framework's operating-system type
// (0x100 macOS, 0x200 Windows, 0x400 Linux), in that order of precedence.
inline constexpr SyncCode::System systemForOperatingSystemBits (int bits) noexcept
{
    if ((bits & 0x100) != 0) return SyncCode::System::onMacOS;
    if ((bits & 0x200) != 0) return SyncCode::System::onWindows;
    if ((bits & 0x400) != 0) return SyncCode::System::onLinux;
    return SyncCode::System::other;
}

} // namespace veltro::daemon
