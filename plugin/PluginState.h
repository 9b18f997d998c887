#pragma once

// The plug-in's four settings as they travel in the host's project: exactly
// 14 little-endian bytes, no header, no version.

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltro
{

struct PluginSettings
{
    double latencyCompensationSeconds = 0.0;
    int32_t bufferSizeSetting = 256;
    bool usingLargeLatencyPlugins = false;
    bool settingsVisible = false;
};

inline constexpr std::size_t kPluginStateSize = 14;

std::array<uint8_t, kPluginStateSize> serialiseSettings (const PluginSettings& s) noexcept;

// Fields cut short read as 0 (the 4-byte setting only when all its bytes are
// there). Values no build could have written fall back to safe ones: a
// non-finite or absurd latency becomes 0, a buffer size that is not one of
// the offered sizes becomes 256.
PluginSettings deserialiseSettings (const void* data, std::size_t size) noexcept;

bool isOfferedBufferSize (int value) noexcept;

} // namespace veltro
