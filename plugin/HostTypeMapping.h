#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// JUCE 7.0.12 added a Maschine enumerator; older JUCE shifts the later values.
#ifndef VELTRO_JUCE_HAS_MASCHINE_HOST
 #if JUCE_MAJOR_VERSION > 7 || (JUCE_MAJOR_VERSION == 7 && JUCE_MINOR_VERSION == 0 && JUCE_BUILDNUMBER >= 12) || (JUCE_MAJOR_VERSION == 7 && JUCE_MINOR_VERSION > 0)
  #define VELTRO_JUCE_HAS_MASCHINE_HOST 1
 #else
  #define VELTRO_JUCE_HAS_MASCHINE_HOST 0
 #endif
#endif

namespace veltro
{

// The host identifier in the channel's numbering (see HostIds.h).
int toHostId (juce::PluginHostType::HostType type) noexcept;

// The identifier of the host this process runs in.
int detectHostId() noexcept;

} // namespace veltro
