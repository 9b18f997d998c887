#include "SettingsBytes.h"

#include <cstring>
#include <iomanip>
#include <sstream>

namespace veltro
{

namespace
{
    constexpr std::size_t kLatencyOffset = 0;
    constexpr std::size_t kBufferSizeOffset = 8;
    constexpr std::size_t kLargeLatencyOffset = 12;
    constexpr std::size_t kSettingsVisibleOffset = 13;

    template <typename T>
    void putLittleEndian (std::vector<uint8_t>& out, std::size_t offset, T value)
    {
        for (std::size_t i = 0; i < sizeof (T); ++i)
            out[offset + i] = static_cast<uint8_t> ((value >> (8 * i)) & 0xFF);
    }

    template <typename T>
    T getLittleEndian (const std::vector<uint8_t>& in, std::size_t offset)
    {
        T value = 0;
        for (std::size_t i = 0; i < sizeof (T); ++i)
            value = static_cast<T> (value | (static_cast<T> (in[offset + i]) << (8 * i)));
        return value;
    }
} // namespace

std::vector<uint8_t> encodeSettings (const SavedSettings& s)
{
    std::vector<uint8_t> out (kSavedSettingsSize, 0);

    uint64_t latencyBits = 0;
    std::memcpy (&latencyBits, &s.latencyCompensationSeconds, sizeof latencyBits);
    putLittleEndian (out, kLatencyOffset, latencyBits);
    putLittleEndian (out, kBufferSizeOffset, static_cast<uint32_t> (s.bufferSizeSetting));
    out[kLargeLatencyOffset] = s.usingLargeLatencyPlugins ? 1 : 0;
    out[kSettingsVisibleOffset] = s.settingsVisible ? 1 : 0;
    return out;
}

std::optional<SavedSettings> decodeSettings (const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != kSavedSettingsSize)
        return std::nullopt;

    SavedSettings s;
    const auto latencyBits = getLittleEndian<uint64_t> (bytes, kLatencyOffset);
    std::memcpy (&s.latencyCompensationSeconds, &latencyBits, sizeof latencyBits);
    s.bufferSizeSetting = static_cast<int32_t> (getLittleEndian<uint32_t> (bytes, kBufferSizeOffset));
    s.usingLargeLatencyPlugins = bytes[kLargeLatencyOffset] != 0;
    s.settingsVisible = bytes[kSettingsVisibleOffset] != 0;
    return s;
}

std::string toHex (const std::vector<uint8_t>& bytes)
{
    std::ostringstream out;
    out << std::hex << std::setfill ('0');
    for (auto b : bytes)
        out << std::setw (2) << static_cast<int> (b);
    return out.str();
}

std::optional<std::vector<uint8_t>> fromHex (const std::string& text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;

    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2)
    {
        const auto pair = text.substr (i, 2);
        if (pair.find_first_not_of ("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        bytes.push_back (static_cast<uint8_t> (std::stoi (pair, nullptr, 16)));
    }
    return bytes;
}

std::string describeSettings (const std::string& prefix, const SavedSettings& s)
{
    std::ostringstream out;
    out << std::setprecision (17)
        << prefix << ".latencySeconds=" << s.latencyCompensationSeconds << '\n'
        << prefix << ".bufferSize=" << s.bufferSizeSetting << '\n'
        << prefix << ".largeLatency=" << (s.usingLargeLatencyPlugins ? 1 : 0) << '\n'
        << prefix << ".settingsVisible=" << (s.settingsVisible ? 1 : 0) << '\n';
    return out.str();
}

} // namespace veltro
