#pragma once

// How far the sync stream is held back (syncDelay, in sync samples) and how
// much latency the plug-in reports to the host (in host samples), per host.
// Pure arithmetic; the processor feeds it its settings and block sizes.

namespace veltro
{

struct LatencyInputs
{
    int hostType = 0;
    double currentSampleRate = 44100.0;
    int rateDivider = 1;
    int currentBlockSize = 256;
    int maxBlockSize = 256;
    int bufferSizeSetting = 256;
    double latencyCompensationSeconds = 0.0;
    bool usingLargeLatencyPlugins = false;
};

struct LatencyResult
{
    int syncDelay = 0;
    int latencySamples = 0;   // reported to the host
    int reportedLatencyMs = 20; // shown by the editor for some hosts
};

LatencyResult computeLatency (const LatencyInputs& in) noexcept;

// Slots of the plug-in's delay ring for this host and preparation.
int computeSyncBufferSize (int hostType, double currentSampleRate, int rateDivider, int maxBlockSize) noexcept;

// The buffer-size setting limited to what this host and divider allow.
int limitBufferSizeSetting (int hostType, int rateDivider, int bufferSizeSetting) noexcept;

// Host samples per sync sample for a host rate.
int rateDividerFor (double sampleRate) noexcept;

} // namespace veltro
