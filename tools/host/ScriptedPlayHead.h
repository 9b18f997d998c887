#pragma once

// The host's playhead for the hosted plug-in: serves the scripted transport's
// frame for the block being processed.

#include "TransportScript.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>

namespace veltro
{

class ScriptedPlayHead final : public juce::AudioPlayHead
{
public:
    explicit ScriptedPlayHead (const TransportScript& script) : transport (script) {}

    // Called by the audio thread before each block.
    void setBlockStart (int64_t hostSample) noexcept { blockStart.store (hostSample, std::memory_order_relaxed); }

    TransportFrame currentFrame() const noexcept { return transport.frameAt (blockStart.load (std::memory_order_relaxed)); }

    juce::Optional<PositionInfo> getPosition() const override;

private:
    const TransportScript& transport;
    std::atomic<int64_t> blockStart { 0 };
};

} // namespace veltro
