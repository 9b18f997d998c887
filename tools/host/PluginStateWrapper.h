#pragma once

// What a JUCE host keeps as a VST3 plug-in's state: XML with the component's
// and the controller's states in base64, packed by copyXmlToBinary. The
// plug-in side appends JUCE's private data (bypass flag) to its own bytes.

#include <juce_audio_processors/juce_audio_processors.h>

#include <optional>
#include <vector>

namespace veltro
{

// A host state carrying only these component-state bytes, as a DAW would
// restore them from a saved project.
juce::MemoryBlock wrapComponentState (const std::vector<uint8_t>& componentState);

// The component-state bytes inside a host state, or nothing when it is not one.
std::optional<std::vector<uint8_t>> unwrapComponentState (const juce::MemoryBlock& hostState);

// The plug-in's own bytes: the component state without the private data the
// framework's wrapper appends. Unchanged when there is no such trailer.
std::vector<uint8_t> withoutFrameworkTrailer (const std::vector<uint8_t>& componentState);

} // namespace veltro
