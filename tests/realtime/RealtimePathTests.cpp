// The real-time paths under clang's RealtimeSanitizer. Every step that runs on
// an audio thread in the product is called here through a function marked
// nonblocking; inside it the sanitizer stops the run at the first allocation,
// free, mutex, sleep or blocking system call, with the call stack. The
// message-thread steps (claiming, announcing, the daemon's timer) run outside.
//
// The plug-in's block: handshake, encoder, copy into the FIFO. The daemon's
// callback: lock, playout with fill control and markers, burst, giving up.

#include "TestChannelNames.h"
#include "ChannelClient.h"
#include "DaemonTimerLogic.h"
#include "PlayoutEngine.h"
#include "SharedMemoryHandler.h"
#include "SyncEncoder.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <unistd.h>

#if defined(__has_feature)
    #if __has_feature(realtime_sanitizer)
        #define VELTRO_REALTIME [[clang::nonblocking]]
    #endif
#endif
#ifndef VELTRO_REALTIME
    #error "build these tests with -fsanitize=realtime (VELTRO_RTSAN=ON, clang 20 or later)"
#endif

namespace veltro
{
namespace
{

using M = SharedMemory;
using daemon::PlayoutEngine;

// ---- what the audio threads run ----

struct PluginBlock
{
    HostTimeline timeline;
    int hostSamples = 0;
    int n = 0; // sync samples
    double syncRate = 48000.0;
};

bool runPluginBlock (ChannelClient& client, SyncEncoder& encoder, const Announcement& a,
                     const PluginBlock& b) noexcept VELTRO_REALTIME
{
    if (client.isInstanceDisabled() || ! client.processHandshake (encoder, b.n, a))
        return false;

    encoder.trackHostPosition (b.timeline.timeInSamples, b.hostSamples);
    encoder.generateBlock (b.timeline, b.n, b.syncRate);
    encoder.advanceWriteIndex (b.n);
    client.sendDataToSharedMemory (encoder, b.n);
    return true;
}

PlayoutEngine::Outcome runDaemonCallback (SharedMemoryHandler& handler, PlayoutEngine& playout, float* out, int n,
                                          RelaxedValue<bool>& typeUpdate, int32_t model) noexcept VELTRO_REALTIME
{
    for (int i = 0; i < n; ++i)
        out[i] = 0.0f;

    if (playout.playoutSuspended.load() || ! handler.tryLock (true))
        return PlayoutEngine::Outcome::suspended;

    const auto outcome = playout.processLocked (*handler.getMemory(), out, n, typeUpdate, model);
    handler.unlock();
    playout.finishBlock (outcome, out, n);
    return outcome;
}

// ---- the daemon's timer, as the engine runs it (message thread) ----

void daemonTimerTick (SharedMemoryHandler& handler, PlayoutEngine& playout)
{
    if (! playout.playoutSuspended.load() || ! handler.tryLock())
        return;

    auto& m = *handler.getMemory();
    switch (daemon::decideTimerAction (m.daemonState.load(), true, m.pluginEnabled.load()))
    {
        case daemon::TimerAction::setUpOutput:
            m.daemonState.store (M::daemonSettingUp);
            m.sampleRateChanged.store (0);
            m.blockSizeChanged.store (0);
            fifo::reset (m);
            playout.prepareForSetup (m.nominalBlockSize.load(), m.actualBlockSize.load());
            playout.playoutSuspended = false;
            break;
        case daemon::TimerAction::closeOutput: m.daemonState.store (M::daemonIdle); break;
        case daemon::TimerAction::markOutputLost: m.daemonState.store (M::daemonSettingUp); break;
        case daemon::TimerAction::resumePlayout: playout.playoutSuspended = false; break;
        case daemon::TimerAction::nothing: break;
    }
    handler.unlock();
}

// The instrument itself: an allocation inside a nonblocking function ends
// the run with the sanitizer's report.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wfunction-effects"
void allocateOnTheAudioThread() noexcept VELTRO_REALTIME
{
    auto* volatile p = new int (1);
    delete p;
}
#pragma clang diagnostic pop

TEST (RealtimePaths, TheSanitizerStopsAnAllocation)
{
    EXPECT_DEATH (allocateOnTheAudioThread(), "RealtimeSanitizer");
}

// A song through the whole chain, in step: plug-in blocks at the host's
// pace, device callbacks at the device's, the daemon's timer every 300 ms.
struct Chain
{
    static constexpr double kRate = 48000.0;
    static constexpr int kCallback = 32;

    explicit Chain (int hostBlock) : names (veltro::testing::uniqueChannelNames ("Realtime")), daemonSide (names),
                                     client (names), hostBlockSize (hostBlock), announcement { kRate, 1, hostBlock }
    {
    }

    bool start()
    {
        if (! daemonSide.createAndInitialise() || ! encoder.allocate (8192))
            return false;
        encoder.setSyncDelay (1024);
        client.setHostType (17);
        client.tryToReenablePluginInstance();
        client.announce (announcement);
        return ! client.isInstanceDisabled();
    }

    // Runs `seconds` of song time; bpm and playing as given.
    void play (double seconds, double bpm, bool playing, int32_t model = M::tactora)
    {
        const auto samples = static_cast<int64_t> (seconds * kRate);
        for (int64_t s = 0; s < samples; s += kCallback)
        {
            // The host's block, whenever the device has used up the last one.
            while (hostRunning && hostTime <= deviceTime)
            {
                PluginBlock b;
                b.hostSamples = hostBlockSize;
                b.n = hostBlockSize;
                b.timeline.isPlaying = playing;
                b.timeline.bpm = bpm;
                b.timeline.ppq = ppq;
                b.timeline.hasTimeSignature = true;
                b.timeline.timeInSamples = hostTime;
                pluginBlocksStreamed += runPluginBlock (client, encoder, announcement, b) ? 1 : 0;
                if (playing)
                    ppq += hostBlockSize * bpm / 60.0 / kRate;
                hostTime += hostBlockSize;
            }

            const auto outcome = runDaemonCallback (daemonSide, playout, out.data(), kCallback, typeUpdate, model);
            bursts += outcome == PlayoutEngine::Outcome::burst ? 1 : 0;
            played += outcome == PlayoutEngine::Outcome::played ? 1 : 0;
            deviceTime += kCallback;

            if (deviceTime >= nextTick)
            {
                daemonTimerTick (daemonSide, playout);
                client.checkChannelHealth (deviceTime * 1000 / static_cast<int64_t> (kRate));
                nextTick += static_cast<int64_t> (0.3 * kRate);
            }
        }
    }

    M& block() { return *daemonSide.getMemory(); }

    ChannelNames names;
    SharedMemoryHandler daemonSide;
    ChannelClient client;
    SyncEncoder encoder;
    PlayoutEngine playout { SyncCode::System::onLinux };
    RelaxedValue<bool> typeUpdate { false };
    int hostBlockSize;
    Announcement announcement;
    std::array<float, kCallback> out {};
    bool hostRunning = true;
    int64_t hostTime = 0, deviceTime = 0, nextTick = 0;
    double ppq = 0.0;
    int pluginBlocksStreamed = 0, bursts = 0, played = 0;
};

TEST (RealtimePaths, PluginBlocksAndDaemonCallbacksThroughASong)
{
    for (const int hostBlock : { 32, 64, 256, 1024 })
    {
        SCOPED_TRACE ("host block " + std::to_string (hostBlock));
        Chain chain (hostBlock);
        ASSERT_TRUE (chain.start());

        chain.play (1.0, 120.0, false);
        chain.play (2.0, 120.0, true);
        chain.play (1.0, 174.5, true); // tempo change
        chain.play (0.5, 174.5, false);
        chain.play (1.0, 90.0, true);

        EXPECT_EQ (chain.block().pluginEnabled.load(), M::channelStreaming);
        EXPECT_GT (chain.pluginBlocksStreamed, 0);
        EXPECT_EQ (chain.bursts, 1);
        EXPECT_GT (chain.played, 1000);

        // A device of another model: the next callback identifies again.
        chain.typeUpdate = true;
        chain.play (0.5, 90.0, true, M::klavo2);
        EXPECT_EQ (chain.bursts, 2);

        // The host stops without a word: the daemon's patience runs out
        // inside its callback, and the timer closes the output.
        chain.hostRunning = false;
        chain.play (1.5, 90.0, false);
        EXPECT_EQ (chain.block().pluginEnabled.load(), M::channelFree);
        EXPECT_EQ (chain.block().daemonState.load(), M::daemonIdle);
    }
}

// The daemon quits while the plug-in streams: the plug-in's next block sees
// state 0 and closes its handle, the one place where the audio thread unmaps
// and closes (allowed by the suppressions file), and blocks nowhere.
TEST (RealtimePaths, DaemonQuittingUnderAStreamingPlugin)
{
    Chain chain (128);
    ASSERT_TRUE (chain.start());
    chain.play (1.0, 120.0, true);
    ASSERT_EQ (chain.block().pluginEnabled.load(), M::channelStreaming);

    chain.block().daemonState.store (M::daemonShutDown);
    PluginBlock b;
    b.hostSamples = b.n = 128;
    b.timeline.isPlaying = true;
    b.timeline.bpm = 120.0;
    EXPECT_FALSE (runPluginBlock (chain.client, chain.encoder, chain.announcement, b));
    EXPECT_EQ (chain.client.getPluginStatus(), daemonNotRunning);
}

} // namespace
} // namespace veltro
