#pragma once

// Keeps the FIFO's fill near its target by asking for single silent samples
// to be inserted (adjustment > 0) or zero codes to be dropped (adjustment < 0).
// Pure logic: the playout engine feeds it the fill it sees at each callback.
//
// Callbacks of up to 32 samples follow the original rules. A longer callback
// (a JACK period of 256..1024) needs more codes in the FIFO before each read
// and sees a fill that barely moves from one callback to the next, so for it
// the lowest fill over a window of callbacks is kept inside a band above one
// callback's worth of codes (see updateLong).

#include <cstdint>

namespace veltro::daemon
{

class FillControl
{
public:
    static constexpr int kTargetFill = 64;
    static constexpr int kShortCallback = 32;     // the callback length the original rules were made for
    static constexpr int kLimitSamples = 32768;   // a level has to persist this long before nudging starts
    static constexpr int kNudgesPerEpisode = 32;  // one-sample corrections before the mode is re-judged
    static constexpr int kLargeExcess = 96;       // above this a persistent excess is dropped at once
    static constexpr int kMaxBlockSize = 8192;    // a block longer than the FIFO cannot be real
    static constexpr int kLimitForUnknownBlock = kLimitSamples / kShortCallback;

    // Copies the plug-in's block sizes (clamped into 0..kMaxBlockSize so a
    // rogue value cannot overflow the arithmetic) and forgets the dip phase.
    void setBlockSizes (int32_t nominal, int32_t actual) noexcept;

    // The reset of a new output set-up: modes, counters and dip phase.
    void resetDrift() noexcept;

    // One controller call with `available` codes in the FIFO before a read of
    // `callbackLength` samples. Sets `adjustment`.
    void update (int available, int callbackLength) noexcept;

    // Evaluations a level must persist; never 0, also for a block size of 0.
    int evaluationLimit() const noexcept;

    int adjustment = 0;
    int nudgeBalance = 0;
    int driftMode = 0; // 0 none, 1 raise the fill, 2 lower the fill
    int lowFillCount = 0;
    int highFillCount = 0;
    int lastFill = 0;
    int fillAtUpturn = -1;
    int fillAtDownturn = -1;
    int pluginNominalBlockSize = 0;
    int pluginActualBlockSize = 0;

    // Long callbacks: the window over which the lowest fill is taken.
    int windowSamples = 0;
    int windowMinimum = 0;

    // How often each kind of correction was asked for (for figures and tests).
    struct Counters
    {
        int64_t emergencyPads = 0;
        int64_t emergencyDrops = 0;
        int64_t nudgesUp = 0;
        int64_t nudgesDown = 0;
        int64_t excessDrops = 0;
    };
    Counters counters;

private:
    void updateShort (int a) noexcept;
    void updateLong (int a, int n) noexcept;
    // Evaluated fills below `low` count as low, above `high` as high; a high
    // level above `excess` is cut back to `settle` at once.
    struct Band
    {
        int low, high, excess, settle;
    };

    void evaluate (int c, const Band& band, int limit) noexcept;
    void endOfEpisodeCheck() noexcept;
};

} // namespace veltro::daemon
