#pragma once

// How the family's devices are recognised by the names of their audio outputs,
// the MIDI fallback, and the model of the open output. JUCE-free so the
// vocabulary can be tested on its own; the handler maps JUCE strings onto it.

#include "SharedMemory.h"

#include <optional>
#include <string_view>

namespace veltro::daemon
{

struct DetectedDevice
{
    int32_t deviceType = SharedMemory::invalid;
    bool oldFirmware = false;

    bool operator== (const DetectedDevice&) const = default;
};

inline constexpr std::string_view kDevicePrefix = "Do-not-use-";
inline constexpr std::string_view kBareDeviceName = "Do-not-use";
inline constexpr std::string_view kOldTactoraName = "Tactora-do-not-use";
inline constexpr std::string_view kMidiFallbackPrefix = "Tactora";

// The entry for an audio output name, or nothing when the name is not one of ours.
inline constexpr std::optional<DetectedDevice> classifyAudioOutputName (std::string_view name) noexcept
{
    if (name.starts_with (kDevicePrefix))
    {
        const auto rest = name.substr (kDevicePrefix.size());
        if (rest.starts_with ("001")) return DetectedDevice { SharedMemory::tactora, false };
        if (rest.starts_with ("010")) return DetectedDevice { SharedMemory::klavo2, false };
        if (rest.starts_with ("101")) return DetectedDevice { SharedMemory::vantel, false };
        return std::nullopt;
    }

    if (name == kBareDeviceName) return DetectedDevice { SharedMemory::klavo2, false };
    if (name == kOldTactoraName) return DetectedDevice { SharedMemory::invalid, true };
    return std::nullopt;
}

inline constexpr bool isFallbackMidiOutputName (std::string_view name) noexcept
{
    return name.starts_with (kMidiFallbackPrefix);
}

inline constexpr const char* modelDisplayName (int32_t model) noexcept
{
    switch (model)
    {
        case SharedMemory::tactora: return "Tactora";
        case SharedMemory::klavo2: return "Klavo II";
        case SharedMemory::vantel: return "Vantel";
        default: return "";
    }
}

} // namespace veltro::daemon
