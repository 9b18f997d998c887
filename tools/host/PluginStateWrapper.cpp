#include "PluginStateWrapper.h"

#include <cstring>

namespace veltro
{

namespace
{
    constexpr const char* kStateTag = "VST3PluginState";
    constexpr const char* kComponentTag = "IComponent";

    // The wrapper's trailer: 8 zero bytes, the private data, its size as a
    // little-endian int64, then this marker.
    constexpr const char* kPrivateDataMarker = "JUCEPrivateData";
    constexpr std::size_t kSizeFieldBytes = 8;
} // namespace

juce::MemoryBlock wrapComponentState (const std::vector<uint8_t>& componentState)
{
    juce::XmlElement state (kStateTag);
    juce::MemoryBlock bytes (componentState.data(), componentState.size());
    state.createNewChildElement (kComponentTag)->addTextElement (bytes.toBase64Encoding());

    juce::MemoryBlock result;
    juce::AudioProcessor::copyXmlToBinary (state, result);
    return result;
}

std::optional<std::vector<uint8_t>> unwrapComponentState (const juce::MemoryBlock& hostState)
{
    const auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), static_cast<int> (hostState.getSize()));
    if (xml == nullptr || ! xml->hasTagName (kStateTag))
        return std::nullopt;

    const auto* component = xml->getChildByName (kComponentTag);
    if (component == nullptr)
        return std::nullopt;

    juce::MemoryBlock bytes;
    if (! bytes.fromBase64Encoding (component->getAllSubText()))
        return std::nullopt;

    const auto* data = static_cast<const uint8_t*> (bytes.getData());
    return std::vector<uint8_t> (data, data + bytes.getSize());
}

std::vector<uint8_t> withoutFrameworkTrailer (const std::vector<uint8_t>& componentState)
{
    const std::size_t markerBytes = std::strlen (kPrivateDataMarker);
    const std::size_t size = componentState.size();

    if (size < markerBytes + 2 * kSizeFieldBytes
        || std::memcmp (componentState.data() + size - markerBytes, kPrivateDataMarker, markerBytes) != 0)
        return componentState;

    uint64_t privateSize = 0;
    for (std::size_t i = 0; i < kSizeFieldBytes; ++i)
        privateSize |= static_cast<uint64_t> (componentState[size - markerBytes - kSizeFieldBytes + i]) << (8 * i);

    const std::size_t trailer = markerBytes + 2 * kSizeFieldBytes;
    if (privateSize > size - trailer)
        return componentState;

    const auto ownBytes = size - trailer - static_cast<std::size_t> (privateSize);
    return { componentState.begin(), componentState.begin() + static_cast<std::ptrdiff_t> (ownBytes) };
}

} // namespace veltro
