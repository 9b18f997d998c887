#pragma once

// Puts a marker code into the played stream about every 300 samples, always
// on a silent sample so no code of the plug-in is overwritten.
//
// Callbacks of up to 32 samples keep the original rule (one marker in the
// first silent sample of a block once 300 samples have passed; the count
// restarts at the block length). A longer callback would then carry one
// marker per block, 512 or 1024 samples apart, so there markers are placed
// inside the block, each at the first silent sample 300 or more samples after
// the previous one.

namespace veltro::daemon
{

class MarkerInjector
{
public:
    static constexpr int kSpacing = 300;
    static constexpr int kShortCallback = 32;

    void inject (float* out, int n) noexcept;

    // Samples played since the last marker (for a short callback: since the
    // start of the block that carried it, as the original rule counts).
    int samplesSinceMarker = 0;
};

} // namespace veltro::daemon
