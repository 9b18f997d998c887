#pragma once

// The daemon's side of the channel without any audio hardware: it creates the
// block, follows the plug-in's announcements, "opens" a pretend output and
// takes codes out of the FIFO the way the daemon's audio callback does. Tools
// run it next to a hosted plug-in; tests call its steps one by one. It plays
// no burst, injects no markers and does no fill control: those only shape the
// audio the real daemon sends to the device.
//
// Not thread-safe: run every step from one thread (or serialise the calls).
// The counters can be read from any thread.

#include "SharedMemoryHandler.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace veltro
{

// Receives the codes taken out of the FIFO, after the lock has been released.
// Called on the thread that runs the callbacks; must not block.
class CodeSink
{
public:
    virtual ~CodeSink() = default;
    virtual void receiveCodes (const uint16_t* codes, int count) noexcept = 0;
};

class DaemonStandIn
{
public:
    // Callbacks the daemon waits for a confirmation, or for codes, before it
    // frees the channel.
    static constexpr int kPatienceCallbacks = 1024;
    // Callbacks of this length or shorter cannot carry the identification burst.
    static constexpr int kShortestBurstCallback = 18;
    static constexpr int kTimerPeriodMs = 300;
    static constexpr int kDefaultCallbackSamples = 32;
    static constexpr double kOutputRate44100 = 44100.0;
    static constexpr double kOutputRate48000 = 48000.0;

    enum class Callback
    {
        noOutput,               // no output is open; nothing touched
        suspended,              // playout suspended; nothing touched
        lockFailed,             // semaphore error: handle closed, names unlinked
        identification,         // first callback after set-up (or after a device change): burst, no codes
        burstDidNotFit,         // callback too short for the burst: daemonState back to 2
        stoppedPlayout,         // channel free or rate being changed: playout suspended now
        waitingForConfirmation, // pluginEnabled 2: counted towards giving up
        claimedOnly,            // pluginEnabled 1: nothing to do
        played,                 // streaming: codes (possibly none) handed to the sink
        gaveUp,                 // patience used up: pluginEnabled 0, playout suspended
    };

    struct CallbackResult
    {
        Callback outcome = Callback::noOutput;
        int codesRead = 0;
    };

    // Time is counted in output samples: one timer tick every kTimerPeriodMs of
    // output time, one callback every samplesPerCallback.
    struct PumpResult
    {
        int callbacks = 0;
        int timerTicks = 0;
        int codesRead = 0;
    };

    explicit DaemonStandIn (ChannelNames names = {});
    ~DaemonStandIn();

    DaemonStandIn (const DaemonStandIn&) = delete;
    DaemonStandIn& operator= (const DaemonStandIn&) = delete;

    // Creates (replacing stale objects) and initialises the block. True when ready.
    bool create();

    // ---- the timer's steps (the daemon runs them every 300 ms while playout is suspended) ----

    // pluginEnabled 2 and (daemonState 1, or 3 with an open output): daemonState 2,
    // sampleRateChanged 0, block sizes copied, blockSizeChanged 0, FIFO reset, and
    // the output (re)opened at 44100 or 48000 Hz, unless no device is connected.
    // True when the block was taken over (whether or not an output opened).
    bool setUpOutputIfAnnounced();

    // pluginEnabled 0 and (an open output with daemonState other than 2, or no
    // output with daemonState 2): daemonState 1, output closed.
    bool closeOutputIfFree();

    // The whole timer: the decision table of the daemon, gated on suspended
    // playout, with the device model written into the block on every run.
    void timerTick();

    // ---- the audio callback ----

    // One device callback of `samples` samples: daemonState 3, then by
    // pluginEnabled: burst, waiting, playout (up to `samples` codes to the sink)
    // or giving up. Allocation-free; the sink may be null.
    CallbackResult runCallback (int samples, CodeSink* sink) noexcept;

    // ---- the rest of the daemon ----

    // The model of the connected device (SharedMemory::device_type_enum), or
    // -1 for none, in which case set-up leaves the output closed. A change
    // while the output is open makes the next callback send the burst again.
    void setDeviceType (int type);

    // daemonState 0 written without the lock, then both names unlinked.
    void shutDown();

    // Advances the pretend daemon by `samples` output samples: timer ticks at
    // time 0 and every 300 ms, callbacks of samplesPerCallback in between.
    // Leftover samples are carried into the next call.
    PumpResult pump (int samples, CodeSink* sink) noexcept;
    void setSamplesPerCallback (int samples) noexcept;
    int getSamplesPerCallback() const noexcept { return samplesPerCallback; }

    // ---- accessors ----
    SharedMemoryHandler& getHandler() noexcept { return handler; }
    SharedMemory* getMemory() const noexcept { return handler.getMemory(); }
    bool isReady() const noexcept { return handler.isReady(); }
    bool isOutputOpen() const noexcept { return outputOpen; }
    double getOutputSampleRate() const noexcept { return outputSampleRate; }
    bool isPlayoutSuspended() const noexcept { return playoutSuspended; }
    int getIdleCallbackCount() const noexcept { return idleCallbackCount; }
    int getPluginNominalBlockSize() const noexcept { return pluginNominalBlockSize; }
    int getPluginActualBlockSize() const noexcept { return pluginActualBlockSize; }
    int getDeviceType() const noexcept { return deviceType; }
    bool isDawConnected() const noexcept { return dawConnected; }

    uint64_t getTotalCodesRead() const noexcept { return totalCodesRead.load (std::memory_order_relaxed); }
    int getSetUpCount() const noexcept { return setUpCount.load (std::memory_order_relaxed); }
    int getGiveUpCount() const noexcept { return giveUpCount.load (std::memory_order_relaxed); }
    int getIdentificationCount() const noexcept { return identificationCount.load (std::memory_order_relaxed); }

private:
    // Called with the lock held; they release it.
    void setUpOutputLocked (SharedMemory& m);
    void closeOutputLocked (SharedMemory& m);
    static bool wantsSetUp (int daemonState, int pluginEnabled, bool outputOpen) noexcept;
    static bool wantsClose (int daemonState, int pluginEnabled, bool outputOpen) noexcept;
    bool lock() noexcept;
    void lostTheLock() noexcept;
    CallbackResult giveUpIfOutOfPatience (SharedMemory& m, Callback otherwise) noexcept;
    int outputSamplesPerTimerTick() const noexcept;

    SharedMemoryHandler handler;
    std::vector<uint16_t> readBuffer;

    int deviceType = SharedMemory::tactora;
    bool deviceTypeUpdateNeeded = false;
    bool outputOpen = false;
    double outputSampleRate = kOutputRate48000;
    bool playoutSuspended = true;
    bool dawConnected = false;
    int idleCallbackCount = 0;
    int pluginNominalBlockSize = 0;
    int pluginActualBlockSize = 0;

    int samplesPerCallback = kDefaultCallbackSamples;
    int64_t pumpClock = 0;      // output samples pumped so far
    int64_t nextTimerTick = 0;  // output sample at which the timer runs next
    int64_t nextCallback = 0;   // output sample at which the next callback starts

    std::atomic<uint64_t> totalCodesRead { 0 };
    std::atomic<int> setUpCount { 0 };
    std::atomic<int> giveUpCount { 0 };
    std::atomic<int> identificationCount { 0 };
};

} // namespace veltro
