#include "PluginState.h"

#include <cmath>
#include <cstring>

namespace veltro
{

namespace
{
    constexpr std::size_t kLatencyOffset = 0;
    constexpr std::size_t kBufferSizeOffset = 8;
    constexpr std::size_t kLargeLatencyOffset = 12;
    constexpr std::size_t kSettingsVisibleOffset = 13;
    constexpr double kAbsurdLatencySeconds = 1.0;
    constexpr int32_t kDefaultBufferSize = 256;

    void putLE (uint8_t* out, uint64_t v, std::size_t bytes) noexcept
    {
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<uint8_t> (v >> (8 * i));
    }

    uint64_t getLE (const uint8_t* in, std::size_t bytes) noexcept
    {
        uint64_t v = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            v |= static_cast<uint64_t> (in[i]) << (8 * i);
        return v;
    }
} // namespace

bool isOfferedBufferSize (int value) noexcept
{
    for (int size = 32; size <= 2048; size *= 2)
        if (value == size)
            return true;
    return false;
}

std::array<uint8_t, kPluginStateSize> serialiseSettings (const PluginSettings& s) noexcept
{
    std::array<uint8_t, kPluginStateSize> out {};
    uint64_t bits = 0;
    std::memcpy (&bits, &s.latencyCompensationSeconds, sizeof bits);
    putLE (out.data() + kLatencyOffset, bits, 8);
    putLE (out.data() + kBufferSizeOffset, static_cast<uint32_t> (s.bufferSizeSetting), 4);
    out[kLargeLatencyOffset] = s.usingLargeLatencyPlugins ? 1 : 0;
    out[kSettingsVisibleOffset] = s.settingsVisible ? 1 : 0;
    return out;
}

PluginSettings deserialiseSettings (const void* data, std::size_t size) noexcept
{
    std::array<uint8_t, kPluginStateSize> bytes {};
    if (data != nullptr)
        std::memcpy (bytes.data(), data, size < kPluginStateSize ? size : kPluginStateSize);

    PluginSettings s;

    // A field cut short reads as 0; the latency's present bytes are kept as they are.
    const uint64_t bits = getLE (bytes.data() + kLatencyOffset, 8);
    std::memcpy (&s.latencyCompensationSeconds, &bits, sizeof bits);
    s.bufferSizeSetting = size >= kBufferSizeOffset + 4
                            ? static_cast<int32_t> (static_cast<uint32_t> (getLE (bytes.data() + kBufferSizeOffset, 4)))
                            : 0;
    s.usingLargeLatencyPlugins = bytes[kLargeLatencyOffset] != 0;
    s.settingsVisible = bytes[kSettingsVisibleOffset] != 0;

    if (! std::isfinite (s.latencyCompensationSeconds) || std::abs (s.latencyCompensationSeconds) > kAbsurdLatencySeconds)
        s.latencyCompensationSeconds = 0.0;

    if (! isOfferedBufferSize (s.bufferSizeSetting))
        s.bufferSizeSetting = kDefaultBufferSize;

    return s;
}

} // namespace veltro
