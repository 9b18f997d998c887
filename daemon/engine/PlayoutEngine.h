#pragma once

// What the daemon's audio callback does with the shared block: following the
// plug-in's handshake, the identification burst, patience with a silent
// plug-in, playout of the FIFO with fill control, and markers. JUCE-free: the
// audio source glue takes the lock, calls processLocked, unlocks and calls
// finishBlock; tests and the drift simulation call the same two functions.

#include "FillControl.h"
#include "IdentificationBurst.h"
#include "MarkerInjector.h"
#include "SharedField.h"
#include "SharedMemory.h"

#include <cstdint>

namespace veltro::daemon
{

class PlayoutEngine
{
public:
    // 1024 callbacks of 32 samples. Callbacks longer than that count as the
    // number of 32-sample callbacks they span, so a JACK period of 1024 gives
    // up after the same 0.68 s instead of after 22 s.
    static constexpr int kPatienceCallbacks = 1024;
    static constexpr int kPatienceUnit = 32;

    enum class Outcome
    {
        suspended,       // no plug-in, or a rate change under way: playout suspended
        burst,           // the identification burst was written
        burstDidNotFit,  // the callback is too short for the burst; daemonState set back to 2
        waiting,         // waiting for the plug-in's confirmation
        gaveUp,          // patience used up: channel freed, playout suspended
        played,          // FIFO codes played
        ignored,         // a pluginEnabled value outside the protocol
    };

    explicit PlayoutEngine (SyncCode::System system) noexcept : systemCode (system) {}

    // Steps of one callback that need the lock. `out` holds n zeros.
    // `deviceTypeUpdateNeeded` is cleared when it is acted on; `openOutputModel`
    // is the model of the open output.
    Outcome processLocked (SharedMemory& m, float* out, int n, RelaxedValue<bool>& deviceTypeUpdateNeeded,
                           int32_t openOutputModel) noexcept;

    // After the unlock: markers, for blocks that played the FIFO.
    void finishBlock (Outcome outcome, float* out, int n) noexcept;

    // The timer's share of setting up an output: block sizes and a fresh controller.
    void prepareForSetup (int32_t nominalBlockSize, int32_t actualBlockSize) noexcept;

    RelaxedValue<bool> playoutSuspended { true };

    FillControl fill;
    MarkerInjector markers;
    int idleCallbackCount = 0; // in units of 32-sample callbacks, see kPatienceCallbacks

    // Figures for tests, the simulation and diagnostics (audio thread only).
    struct Statistics
    {
        int64_t codesPlayed = 0;
        int64_t silenceInserted = 0;  // samples of silence put in by the fill control
        int64_t zerosDropped = 0;
        int64_t shortReads = 0;       // callbacks that found fewer codes than they needed
        int minFill = 1 << 30;
        int maxFill = 0;
    };
    Statistics stats;

private:
    bool spendPatience (SharedMemory& m, int n) noexcept;
    Outcome writeBurst (SharedMemory& m, float* out, int n) noexcept;
    void play (SharedMemory& m, float* out, int n, int available) noexcept;

    SyncCode::System systemCode;
};

} // namespace veltro::daemon
