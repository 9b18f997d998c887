#pragma once

// The plug-in's saved settings as the host sees them inside the component
// state: 14 little-endian bytes. Written out here independently of the
// plug-in's own code, so the host checks the plug-in rather than echoing it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltro
{

struct SavedSettings
{
    double latencyCompensationSeconds = 0.0;
    int32_t bufferSizeSetting = 256;
    bool usingLargeLatencyPlugins = false;
    bool settingsVisible = false;
};

inline constexpr std::size_t kSavedSettingsSize = 14;

std::vector<uint8_t> encodeSettings (const SavedSettings& s);

// Needs exactly the 14 bytes.
std::optional<SavedSettings> decodeSettings (const std::vector<uint8_t>& bytes);

std::string toHex (const std::vector<uint8_t>& bytes);
std::optional<std::vector<uint8_t>> fromHex (const std::string& text);

// "prefix.name=value" lines for the host's report.
std::string describeSettings (const std::string& prefix, const SavedSettings& s);

} // namespace veltro
