#include "MarkerInjector.h"

#include "SyncCodes.h"

#include <algorithm>

namespace veltro::daemon
{

void MarkerInjector::inject (float* out, int n) noexcept
{
    if (n <= 0)
        return;

    const float marker = SyncCode::toSample (SyncCode::marker);

    if (n <= kShortCallback)
    {
        if (samplesSinceMarker < kSpacing)
        {
            samplesSinceMarker += n;
            return;
        }

        for (int i = 0; i < n; ++i)
        {
            if (out[i] == 0.0f)
            {
                out[i] = marker;
                samplesSinceMarker = n;
                return;
            }
        }
        return; // no silent sample: tried again next block
    }

    // samplesSinceMarker here is the distance from the last marker to the start
    // of this block.
    int due = samplesSinceMarker >= kSpacing ? 0 : kSpacing - samplesSinceMarker;
    int last = -1;

    for (int i = due; i < n; ++i)
    {
        if (out[i] == 0.0f)
        {
            out[i] = marker;
            last = i;
            i += kSpacing - 1;
        }
    }

    // Capped: a stream without silence for hours must not overflow the count.
    samplesSinceMarker = last >= 0 ? n - last : std::min (samplesSinceMarker + n, kSpacing);
}

} // namespace veltro::daemon
