// The daemon stand-in against the block as the plug-in sees it: each row of
// the daemon's side of the handshake, the patience rule, the pump's clock, and
// one run with the plug-in's real channel client and encoder.

#include "TestChannelNames.h"
#include "AllocationCounter.h"
#include "ChannelClient.h"
#include "DaemonStandIn.h"
#include "StreamDecoder.h"
#include "SyncCodes.h"
#include "SyncEncoder.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

using namespace veltro;

namespace
{
struct CollectingSink final : CodeSink
{
    void receiveCodes (const uint16_t* codes, int count) noexcept override
    {
        received.insert (received.end(), codes, codes + count);
    }

    std::vector<uint16_t> received;
};

using Outcome = DaemonStandIn::Callback;

// A stand-in plus a raw view of its block, the way the plug-in maps it.
struct StandIn : ::testing::Test
{
    ChannelNames names = veltro::testing::uniqueChannelNames ("StandIn");
    DaemonStandIn daemon { names };
    SharedMemoryHandler pluginSide { names };
    SharedMemory* m = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE (daemon.create());
        ASSERT_TRUE (pluginSide.openExisting());
        m = pluginSide.getMemory();
    }

    void TearDown() override
    {
        pluginSide.close (false);
        daemon.shutDown();
    }

    void announce (bool at44100 = false, int blockSize = 256)
    {
        m->sampleRateIs44100.store (at44100 ? 1 : 0);
        m->nominalBlockSize.store (blockSize);
        m->actualBlockSize.store (blockSize);
        m->sampleRateChanged.store (1);
        m->pluginEnabled.store (SharedMemory::channelAnnounced);
    }

    // A new block, with the stand-in's output open or not.
    bool freshChannel (bool outputOpen)
    {
        if (! daemon.create() || ! pluginSide.close (false) || ! pluginSide.openExisting())
            return false;
        m = pluginSide.getMemory();

        if (! outputOpen)
            return true;
        announce();
        return daemon.setUpOutputIfAnnounced();
    }

    // Announce, set up, burst and confirm: the stand-in is playing out.
    void reachStreaming()
    {
        announce();
        ASSERT_TRUE (daemon.setUpOutputIfAnnounced());
        ASSERT_EQ (daemon.runCallback (32, nullptr).outcome, Outcome::identification);
        m->pluginEnabled.store (SharedMemory::channelStreaming);
    }
};
} // namespace

TEST_F (StandIn, ShutDownLeavesStateZeroAndTakesTheNamesAway)
{
    daemon.shutDown();

    EXPECT_EQ (m->daemonState.load(), SharedMemory::daemonShutDown) << "a plug-in still mapping the block sees it";
    SharedMemoryHandler late (names);
    EXPECT_FALSE (late.openExisting());
    EXPECT_FALSE (daemon.isReady());
}

TEST_F (StandIn, SetUpOutputOnlyWhereTheProtocolSaysSo)
{
    struct Case
    {
        int daemonState;
        int pluginEnabled;
        bool outputOpen;
        bool setsUp;
    };

    const Case cases[] = {
        { 1, 2, false, true },  { 1, 1, false, false }, { 1, 0, false, false }, { 3, 2, true, true },
        { 3, 2, false, false }, { 2, 2, false, false }, { 2, 2, true, false },  { 0, 2, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (::testing::Message() << "daemonState " << c.daemonState << ", pluginEnabled " << c.pluginEnabled
                                           << ", output " << (c.outputOpen ? "open" : "closed"));
        ASSERT_TRUE (freshChannel (c.outputOpen));

        announce();
        m->pluginEnabled.store (c.pluginEnabled);
        m->daemonState.store (c.daemonState);

        EXPECT_EQ (daemon.setUpOutputIfAnnounced(), c.setsUp);
        EXPECT_EQ (m->daemonState.load(), c.setsUp ? SharedMemory::daemonSettingUp : c.daemonState);
        EXPECT_EQ (m->sampleRateChanged.load(), c.setsUp ? 0 : 1);
    }
}

TEST_F (StandIn, SetUpTakesOverTheAnnouncement)
{
    for (const bool at44100 : { true, false })
    {
        SCOPED_TRACE (at44100 ? "44100 family" : "48000 family");
        ASSERT_TRUE (daemon.create());
        ASSERT_TRUE (pluginSide.close (false) && pluginSide.openExisting());
        m = pluginSide.getMemory();

        const uint16_t leftOver[] = { 1, 2, 3 };
        fifo::write (*m, leftOver, 3);
        announce (at44100, 480);
        m->actualBlockSize.store (470);
        m->blockSizeChanged.store (1);

        ASSERT_TRUE (daemon.setUpOutputIfAnnounced());

        EXPECT_EQ (m->daemonState.load(), SharedMemory::daemonSettingUp);
        EXPECT_EQ (m->sampleRateChanged.load(), 0);
        EXPECT_EQ (m->blockSizeChanged.load(), 0);
        EXPECT_EQ (daemon.getPluginNominalBlockSize(), 480);
        EXPECT_EQ (daemon.getPluginActualBlockSize(), 470);
        EXPECT_EQ (m->writeIndex.load(), fifo::kResetWriteIndex) << "the FIFO starts empty";
        EXPECT_EQ (m->readIndex.load(), fifo::kResetReadIndex);
        EXPECT_TRUE (daemon.isOutputOpen());
        EXPECT_EQ (daemon.getOutputSampleRate(), at44100 ? 44100.0 : 48000.0);
    }
}

TEST_F (StandIn, CloseOutputOnlyWhereTheProtocolSaysSo)
{
    struct Case
    {
        int daemonState;
        int pluginEnabled;
        bool outputOpen;
        bool closes;
    };

    const Case cases[] = {
        { 3, 0, true, true },  { 1, 0, true, true },   { 0, 0, true, true },  { 2, 0, true, false },
        { 2, 0, false, true }, { 1, 0, false, false }, { 3, 3, true, false }, { 3, 2, true, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (::testing::Message() << "daemonState " << c.daemonState << ", pluginEnabled " << c.pluginEnabled
                                           << ", output " << (c.outputOpen ? "open" : "closed"));
        ASSERT_TRUE (freshChannel (c.outputOpen));

        m->daemonState.store (c.daemonState);
        m->pluginEnabled.store (c.pluginEnabled);

        EXPECT_EQ (daemon.closeOutputIfFree(), c.closes);
        EXPECT_EQ (m->daemonState.load(), c.closes ? SharedMemory::daemonIdle : c.daemonState);
        EXPECT_EQ (daemon.isOutputOpen(), c.outputOpen && ! c.closes);
    }
}

TEST_F (StandIn, FirstCallbackIsTheBurstIfItFits)
{
    struct Case
    {
        int samples;
        Outcome outcome;
        int daemonStateAfter;
    };

    const Case cases[] = {
        { 32, Outcome::identification, SharedMemory::daemonRunning },
        { 19, Outcome::identification, SharedMemory::daemonRunning },
        { 18, Outcome::burstDidNotFit, SharedMemory::daemonSettingUp },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (::testing::Message() << c.samples << "-sample callbacks");
        ASSERT_TRUE (daemon.create());
        ASSERT_TRUE (pluginSide.close (false) && pluginSide.openExisting());
        m = pluginSide.getMemory();

        announce();
        ASSERT_TRUE (daemon.setUpOutputIfAnnounced());
        const uint16_t codes[] = { SyncCode::start, 0xB000, 0xC000, 0xD000 };
        fifo::write (*m, codes, 4);

        CollectingSink sink;
        const auto result = daemon.runCallback (c.samples, &sink);

        EXPECT_EQ (result.outcome, c.outcome);
        EXPECT_EQ (m->daemonState.load(), c.daemonStateAfter);
        EXPECT_TRUE (sink.received.empty()) << "no FIFO codes are played in a burst callback";
        EXPECT_EQ (fifo::available (m->writeIndex.load(), m->readIndex.load()), 4u);
    }
}

TEST_F (StandIn, PlaysTheFifoInOrderUpToTheCallbackLength)
{
    reachStreaming();

    std::vector<uint16_t> written (100);
    for (size_t i = 0; i < written.size(); ++i)
        written[i] = static_cast<uint16_t> (SyncCode::tick (static_cast<uint32_t> (i)));
    ASSERT_EQ (fifo::write (*m, written.data(), 100), 100u);

    CollectingSink sink;
    std::vector<int> perCallback;
    for (int i = 0; i < 4; ++i)
    {
        const auto result = daemon.runCallback (32, &sink);
        EXPECT_EQ (result.outcome, Outcome::played);
        perCallback.push_back (result.codesRead);
    }

    EXPECT_EQ (perCallback, (std::vector<int> { 32, 32, 32, 4 }));
    EXPECT_EQ (sink.received, written);
    EXPECT_EQ (fifo::available (m->writeIndex.load(), m->readIndex.load()), 0u);
    EXPECT_EQ (daemon.getTotalCodesRead(), 100u);
}

TEST_F (StandIn, GivesUpAfter1024CallbacksWithoutProgress)
{
    struct Case
    {
        const char* name;
        int pluginEnabled;
        Outcome whileWaiting;
    };

    const Case cases[] = {
        { "no confirmation", SharedMemory::channelAnnounced, Outcome::waitingForConfirmation },
        { "no codes", SharedMemory::channelStreaming, Outcome::played },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ASSERT_TRUE (daemon.create());
        ASSERT_TRUE (pluginSide.close (false) && pluginSide.openExisting());
        m = pluginSide.getMemory();

        announce();
        ASSERT_TRUE (daemon.setUpOutputIfAnnounced());
        ASSERT_EQ (daemon.runCallback (32, nullptr).outcome, Outcome::identification);
        m->pluginEnabled.store (c.pluginEnabled);

        for (int i = 1; i <= DaemonStandIn::kPatienceCallbacks; ++i)
            ASSERT_EQ (daemon.runCallback (32, nullptr).outcome, c.whileWaiting) << "callback " << i;

        EXPECT_EQ (m->pluginEnabled.load(), c.pluginEnabled);
        EXPECT_EQ (daemon.runCallback (32, nullptr).outcome, Outcome::gaveUp);
        EXPECT_EQ (m->pluginEnabled.load(), SharedMemory::channelFree);
        EXPECT_TRUE (daemon.isPlayoutSuspended());
        EXPECT_EQ (daemon.runCallback (32, nullptr).outcome, Outcome::suspended);
    }
}

TEST_F (StandIn, CodesRestoreThePatience)
{
    reachStreaming();

    for (int i = 0; i < DaemonStandIn::kPatienceCallbacks - 1; ++i)
        daemon.runCallback (32, nullptr);

    const uint16_t code = SyncCode::keepSync;
    fifo::write (*m, &code, 1);
    EXPECT_EQ (daemon.runCallback (32, nullptr).codesRead, 1);
    EXPECT_EQ (daemon.getIdleCallbackCount(), 0);

    for (int i = 0; i < DaemonStandIn::kPatienceCallbacks; ++i)
        ASSERT_EQ (daemon.runCallback (32, nullptr).outcome, Outcome::played);
    EXPECT_EQ (m->pluginEnabled.load(), SharedMemory::channelStreaming);
}

TEST_F (StandIn, TimerTakesOverOnceTheCallbackHasSuspendedPlayout)
{
    struct Case
    {
        const char* name;
        bool reannounce; // else the channel is freed
        int daemonStateAfterTimer;
        bool outputOpenAfterTimer;
    };

    const Case cases[] = {
        { "channel freed", false, SharedMemory::daemonIdle, false },
        { "new rate announced", true, SharedMemory::daemonSettingUp, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ASSERT_TRUE (daemon.create());
        ASSERT_TRUE (pluginSide.close (false) && pluginSide.openExisting());
        m = pluginSide.getMemory();
        reachStreaming();

        daemon.timerTick();
        EXPECT_EQ (m->daemonState.load(), SharedMemory::daemonRunning) << "the timer leaves a running playout alone";

        if (c.reannounce)
            announce (true);
        else
            m->pluginEnabled.store (SharedMemory::channelFree);

        EXPECT_EQ (daemon.runCallback (32, nullptr).outcome, Outcome::stoppedPlayout);
        daemon.timerTick();

        EXPECT_EQ (m->daemonState.load(), c.daemonStateAfterTimer);
        EXPECT_EQ (daemon.isOutputOpen(), c.outputOpenAfterTimer);
        EXPECT_EQ (daemon.isDawConnected(), c.outputOpenAfterTimer);
    }
}

TEST_F (StandIn, DeviceChangeWhilePlayingResetsTheFifoAndIdentifiesAgain)
{
    reachStreaming();
    const uint16_t codes[] = { SyncCode::keepSync, SyncCode::keepSync };
    fifo::write (*m, codes, 2);

    daemon.setDeviceType (SharedMemory::vantel);
    CollectingSink sink;

    EXPECT_EQ (daemon.runCallback (32, &sink).outcome, Outcome::identification);
    EXPECT_EQ (m->deviceType.load(), SharedMemory::vantel);
    EXPECT_EQ (fifo::available (m->writeIndex.load(), m->readIndex.load()), 0u);
    EXPECT_TRUE (sink.received.empty());
}

TEST_F (StandIn, WithoutADeviceNothingIsOpened)
{
    daemon.setDeviceType (SharedMemory::invalid);
    announce();

    EXPECT_TRUE (daemon.setUpOutputIfAnnounced());
    EXPECT_FALSE (daemon.isOutputOpen());
    EXPECT_EQ (daemon.runCallback (32, nullptr).outcome, Outcome::noOutput);

    daemon.timerTick();
    EXPECT_EQ (m->daemonState.load(), SharedMemory::daemonSettingUp);
    EXPECT_EQ (m->deviceType.load(), SharedMemory::invalid);
    EXPECT_EQ (m->pluginEnabled.load(), SharedMemory::channelAnnounced) << "no callbacks, so nobody gives up";
}

TEST_F (StandIn, CallbacksAndPumpingAllocateNothing)
{
    reachStreaming();
    std::vector<uint16_t> codes (4000, SyncCode::keepSync);
    fifo::write (*m, codes.data(), static_cast<uint32_t> (codes.size()));

    struct CountingSink final : CodeSink
    {
        void receiveCodes (const uint16_t*, int count) noexcept override { total += count; }
        int total = 0;
    } sink;

    veltro::testing::startCountingAllocations();
    daemon.runCallback (256, &sink);
    daemon.pump (48000, &sink); // timer ticks, set-up checks, callbacks, the end of the stream
    EXPECT_EQ (veltro::testing::stopCountingAllocations(), 0);
    EXPECT_EQ (sink.total, 4000);
}

TEST_F (StandIn, PumpKeepsTheDaemonsClockAcrossCalls)
{
    // One second of output at 48000 Hz: 1500 callbacks of 32, timer at 0, 0.3, 0.6, 0.9 s.
    const int oneSecond = 48000;
    const auto whole = daemon.pump (oneSecond, nullptr);
    EXPECT_EQ (whole.callbacks, 1500);
    EXPECT_EQ (whole.timerTicks, 4);

    DaemonStandIn other (veltro::testing::uniqueChannelNames ("StandIn"));
    ASSERT_TRUE (other.create());
    DaemonStandIn::PumpResult pieces;
    for (int done = 0; done < oneSecond; done += 500)
    {
        const auto r = other.pump (500, nullptr);
        pieces.callbacks += r.callbacks;
        pieces.timerTicks += r.timerTicks;
    }
    EXPECT_EQ (pieces.callbacks, whole.callbacks);
    EXPECT_EQ (pieces.timerTicks, whole.timerTicks);
}

TEST (StandInWithClient, CarriesThePluginSideThroughTheWholeHandshake)
{
    const auto names = veltro::testing::uniqueChannelNames ("StandIn");
    DaemonStandIn daemon (names);
    ASSERT_TRUE (daemon.create());

    constexpr int kBlock = 512;
    constexpr double kRate = 48000.0;
    constexpr int kProToolsHost = 17;

    ChannelClient client (names);
    client.setHostType (kProToolsHost);
    client.tryToReenablePluginInstance();
    ASSERT_FALSE (client.isInstanceDisabled());

    auto* m = daemon.getMemory();
    EXPECT_EQ (m->pluginEnabled.load(), SharedMemory::channelClaimed);
    EXPECT_EQ (m->hostType.load(), kProToolsHost);

    const Announcement announcement { kRate, 1, kBlock };
    client.announce (announcement);

    SyncEncoder encoder;
    ASSERT_TRUE (encoder.allocate (8192));
    encoder.setSyncDelay (1000);

    CollectingSink sink;
    int blocksBeforeStreaming = 0;

    for (int block = 0; block < 40; ++block)
    {
        const bool go = client.processHandshake (encoder, kBlock, announcement);
        if (! go)
            ++blocksBeforeStreaming;

        if (go)
        {
            HostTimeline t;
            t.isPlaying = true;
            t.bpm = 120.0;
            t.ppq = block * kBlock / (kRate / 2.0);
            t.hasBarStart = true;
            t.barStartPpq = 4.0 * static_cast<int> (t.ppq / 4.0);
            t.hasTimeSignature = true;
            t.timeInSamples = int64_t { block } * kBlock;

            encoder.trackHostPosition (t.timeInSamples, kBlock);
            encoder.generateBlock (t, kBlock, kRate);
            encoder.advanceWriteIndex (kBlock);
            client.sendDataToSharedMemory (encoder, kBlock);
        }

        daemon.pump (kBlock, &sink);
    }

    EXPECT_EQ (blocksBeforeStreaming, 1) << "set-up and burst fit between the first two blocks";
    EXPECT_EQ (m->pluginEnabled.load(), SharedMemory::channelStreaming);
    EXPECT_EQ (client.getPluginStatus(), active);
    EXPECT_EQ (sink.received.size(), size_t { 39 * kBlock }) << "every generated code reached the stand-in";

    StreamDecoder decoder;
    int starts = 0, ticks = 0;
    double tempo = 0.0;
    decoder.consume (sink.received.data(), sink.received.size(), [&] (const SyncEvent& e) {
        starts += e.kind == SyncEvent::Kind::start ? 1 : 0;
        ticks += e.kind == SyncEvent::Kind::tick ? 1 : 0;
        if (e.kind == SyncEvent::Kind::tempo)
            tempo = e.bpm;
    });
    EXPECT_EQ (starts, 1);
    EXPECT_EQ (tempo, 120.0);
    EXPECT_GT (ticks, 0);

    // The plug-in goes away: playout stops, the timer closes the output.
    client.releaseChannel();
    daemon.pump (kBlock * 30, &sink);
    EXPECT_EQ (m->daemonState.load(), SharedMemory::daemonIdle);
    EXPECT_FALSE (daemon.isOutputOpen());

    // The daemon quits: the client notices on its next block.
    daemon.shutDown();
    EXPECT_FALSE (client.processHandshake (encoder, kBlock, announcement));
    EXPECT_EQ (client.getPluginStatus(), daemonNotRunning);
}
