// The plug-in's side of the channel through every daemon state: claims,
// hand-overs between instances, a daemon that restarts or dies, a full FIFO.

#include "ProcessorFixture.h"
#include "SemaphoreFault.h"
#include "MillisecondClock.h"
#include "StreamDecoder.h"

#include <algorithm>

using namespace veltro;
using namespace veltro::testing;

namespace
{
class Handshake : public ProcessorFixture
{
protected:
    std::unique_ptr<PluginAudioProcessor> makeInstance()
    {
        auto p = std::make_unique<PluginAudioProcessor> (names);
        p->setPlayHead (&head);
        return p;
    }

    void processOne (PluginAudioProcessor& p, int blockSize = 256)
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        setTransport (true, 120, samplePosition / 48000.0 * 2.0, samplePosition);
        p.processBlock (buffer, midi);
        samplePosition += blockSize;
    }

    std::vector<SyncEvent> decodeFifo()
    {
        std::vector<SyncEvent> events;
        const auto codes = drainFifo();
        decoder.consume (codes.data(), codes.size(), [&] (const SyncEvent& e) { events.push_back (e); });
        return events;
    }

    int64_t samplePosition = 0;
    StreamDecoder decoder;
};

int count (const std::vector<SyncEvent>& events, SyncEvent::Kind kind)
{
    return static_cast<int> (std::count_if (events.begin(), events.end(), [&] (const SyncEvent& e) { return e.kind == kind; }));
}
} // namespace

TEST_F (Handshake, SecondInstanceWaitsAndTakesOverWhenTheFirstGoes)
{
    auto first = makeInstance();
    auto second = makeInstance();
    EXPECT_EQ (first->getPluginStatus(), noDevice);
    EXPECT_EQ (second->getPluginStatus(), anotherInstance);
    EXPECT_EQ (block->instanceCounter.load(), 1);

    first->prepareToPlay (48000, 256);
    second->prepareToPlay (48000, 256);
    daemonSetsUpOutput();
    processOne (*first);
    processOne (*second);
    EXPECT_EQ (first->getPluginStatus(), active);
    EXPECT_EQ (second->getPluginStatus(), anotherInstance);

    // Destroying an idle second instance must not stop the owner's stream.
    auto third = makeInstance();
    third.reset();
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelStreaming);

    first.reset();
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelFree);

    // The waiting instance claims from its timer while its host processes it.
    processOne (*second);
    second->runTimerTickForTesting();
    EXPECT_EQ (block->instanceCounter.load(), 2);
    EXPECT_EQ (second->getChannel().getInstanceId(), 2);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelAnnounced);

    daemonSetsUpOutput();
    drainFifo();
    processOne (*second);
    EXPECT_EQ (second->getPluginStatus(), active);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelStreaming);
    EXPECT_EQ (fifoFill(), 256u);
}

TEST_F (Handshake, PreparingAWaitingInstanceLeavesTheOwnersStreamAlone)
{
    auto owner = makeInstance();
    owner->prepareToPlay (48000, 256);
    daemonSetsUpOutput();
    processOne (*owner);
    ASSERT_EQ (block->pluginEnabled.load(), SharedMemory::channelStreaming);

    // A second instance added while the first streams: its preparation must not
    // make the daemon set up again (which would reset the FIFO under the owner).
    auto waiting = makeInstance();
    waiting->prepareToPlay (96000, 512);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelStreaming);
    EXPECT_EQ (block->sampleRateChanged.load(), 0);
    EXPECT_EQ (block->nominalBlockSize.load(), 256);
    EXPECT_EQ (waiting->getPluginStatus(), anotherInstance);
}

TEST_F (Handshake, InstanceThatIsNotProcessedDoesNotClaim)
{
    auto first = makeInstance();
    auto second = makeInstance();
    first.reset();
    // No block for a while: the host is not running this instance.
    second->lastProcessBlockTimeMs = millisecondClock() - 1000;
    second->runTimerTickForTesting();
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelFree);
    EXPECT_EQ (second->getPluginStatus(), anotherInstance);
}

TEST_F (Handshake, LostClaimStopsWriting)
{
    prepareAndConnect (48000, 256);
    processOne (*processor);
    ASSERT_EQ (processor->getPluginStatus(), active);
    drainFifo();

    block->instanceCounter.store (2); // someone else claimed meanwhile
    processOne (*processor);
    EXPECT_EQ (processor->getPluginStatus(), anotherInstance);
    EXPECT_TRUE (processor->getChannel().isInstanceDisabled());
    processOne (*processor);
    EXPECT_EQ (fifoFill(), 0u);
}

TEST_F (Handshake, NothingIsWrittenWhileTheDaemonTakesOverANewRate)
{
    prepareAndConnect (48000, 256);
    processOne (*processor);
    drainFifo();

    processor->prepareToPlay (44100, 256);
    EXPECT_EQ (block->sampleRateChanged.load(), 1);
    EXPECT_EQ (block->sampleRateIs44100.load(), 1);
    processOne (*processor);
    EXPECT_EQ (fifoFill(), 0u);

    // Same rate, new block size: only the block size is re-announced.
    daemonSetsUpOutput();
    processOne (*processor);
    ASSERT_EQ (block->pluginEnabled.load(), SharedMemory::channelStreaming);
    processor->prepareToPlay (44100, 512);
    EXPECT_EQ (block->sampleRateChanged.load(), 0);
    EXPECT_EQ (block->blockSizeChanged.load(), 1);
    EXPECT_EQ (block->nominalBlockSize.load(), 512);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelStreaming);
}

TEST_F (Handshake, DaemonIdleOrFreeingTheChannelMakesTheOwnerAnnounceAgain)
{
    prepareAndConnect (48000, 256);
    processOne (*processor);
    ASSERT_EQ (processor->getPluginStatus(), active);

    // The daemon gave up waiting and closed its output.
    block->pluginEnabled.store (SharedMemory::channelFree);
    block->daemonState.store (SharedMemory::daemonIdle);
    processOne (*processor);
    EXPECT_EQ (processor->getPluginStatus(), noDevice);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelAnnounced);
    EXPECT_EQ (block->sampleRateChanged.load(), 1);
}

TEST_F (Handshake, DaemonShutDownAndRestarted)
{
    prepareAndConnect (48000, 256);
    block->deviceType.store (SharedMemory::klavo2);
    processOne (*processor);
    ASSERT_EQ (processor->getDeviceType(), SharedMemory::klavo2);

    // Orderly shutdown: state 0, names unlinked.
    block->daemonState.store (SharedMemory::daemonShutDown);
    daemon.close (true);
    processOne (*processor);
    EXPECT_EQ (processor->getPluginStatus(), daemonNotRunning);
    EXPECT_EQ (processor->getDeviceType(), SharedMemory::invalid);
    EXPECT_TRUE (processor->getChannel().isInstanceDisabled());

    processOne (*processor);
    processor->runTimerTickForTesting();
    EXPECT_EQ (processor->getPluginStatus(), daemonNotRunning);

    // A new daemon: new block, the claim counter starts again.
    ASSERT_TRUE (daemon.createAndInitialise());
    block = daemon.getMemory();
    processOne (*processor);
    processor->runTimerTickForTesting();
    EXPECT_EQ (block->instanceCounter.load(), 1);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelAnnounced);
    daemonSetsUpOutput();
    processOne (*processor);
    EXPECT_EQ (processor->getPluginStatus(), active);

    // Tempo and time signature go to the new daemon again.
    const auto events = decodeFifo();
    EXPECT_EQ (count (events, SyncEvent::Kind::tempo), 1);
    EXPECT_EQ (count (events, SyncEvent::Kind::timeSignature), 1);
}

TEST_F (Handshake, KilledDaemonIsNoticedAndARestartedOneIsJoined)
{
    prepareAndConnect (48000, 256);
    processOne (*processor);
    ASSERT_EQ (processor->getPluginStatus(), active);

    // The daemon dies without a word: its block stays at state 3 and nobody
    // drains the FIFO. After about a second the plug-in stops claiming a link.
    for (int i = 0; i < 3; ++i)
    {
        processOne (*processor);
        processor->getChannel().checkChannelHealth (millisecondClock() + i * 600);
    }
    processOne (*processor);
    EXPECT_EQ (processor->getPluginStatus(), noDevice);

    // A restarted daemon replaces the objects under the same names.
    SharedMemoryHandler restarted (names);
    ASSERT_TRUE (restarted.createAndInitialise());
    processor->runTimerTickForTesting(); // notices the new object
    processOne (*processor);             // closes the stale handle
    EXPECT_EQ (processor->getPluginStatus(), daemonNotRunning);
    processor->runTimerTickForTesting(); // reopens, claims, announces
    auto* fresh = restarted.getMemory();
    EXPECT_EQ (fresh->instanceCounter.load(), 1);
    EXPECT_EQ (fresh->pluginEnabled.load(), SharedMemory::channelAnnounced);

    daemon.close (false); // the test's handle on the old block
    fresh->sampleRateChanged.store (0);
    fifo::reset (*fresh);
    fresh->daemonState.store (SharedMemory::daemonRunning);
    processOne (*processor);
    EXPECT_EQ (processor->getPluginStatus(), active);
    EXPECT_EQ (fifo::available (fresh->writeIndex.load(), fresh->readIndex.load()), 256u);

    // The new daemon gets a stream of its own, from a start code on.
    std::vector<uint16_t> codes (256);
    fifo::read (*fresh, codes.data(), 256);
    EXPECT_EQ (codes[0], SyncCode::start);
    restarted.close (true);
}

TEST_F (Handshake, FullFifoKeepsCodesInTheRingUntilThereIsRoom)
{
    prepareAndConnect (48000, 256);
    // Leave room for only 100 codes.
    std::vector<uint16_t> filler (kFifoSize - 2 - 100, 0x5030);
    ASSERT_TRUE (daemon.tryLock());
    fifo::write (*block, filler.data(), static_cast<uint32_t> (filler.size()));
    daemon.unlock();

    processOne (*processor);
    EXPECT_EQ (fifoFill(), kFifoSize - 2);

    // Drain the filler; the remaining 156 codes of the first block follow the
    // next block's own, in order.
    std::vector<uint16_t> sink (filler.size());
    ASSERT_TRUE (daemon.tryLock());
    fifo::read (*block, sink.data(), static_cast<uint32_t> (filler.size()));
    daemon.unlock();

    processOne (*processor);
    processOne (*processor);

    // Each block sends as many codes as it made, so the backlog of 156 stays
    // in the ring; nothing is lost or repeated.
    const auto codes = drainFifo();
    EXPECT_EQ (codes.size(), 100u + 256u + 256u);
    ASSERT_FALSE (codes.empty());
    EXPECT_EQ (codes[0], SyncCode::start);
    std::vector<SyncEvent> events;
    decoder.consume (codes.data(), codes.size(), [&] (const SyncEvent& e) { events.push_back (e); });
    EXPECT_EQ (count (events, SyncEvent::Kind::start), 1);
    EXPECT_EQ (count (events, SyncEvent::Kind::broken), 0);
}

TEST_F (Handshake, SemaphoreErrorShowsAndRetries)
{
    prepareAndConnect (48000, 256);
    processOne (*processor);
    ASSERT_EQ (processor->getPluginStatus(), active);

    failSemaphoreCalls (true);
    processOne (*processor);
    failSemaphoreCalls (false);
    EXPECT_EQ (processor->getPluginStatus(), communicationError);
    EXPECT_TRUE (processor->getChannel().isInstanceDisabled());
    EXPECT_EQ (processor->getChannel().getHandler().getOpenState(), SharedMemoryHandler::nothingOpen);

    // The retry reopens; the channel is still ours in the block (streaming), so
    // the claim waits until the daemon frees it.
    processOne (*processor);
    processor->runTimerTickForTesting();
    EXPECT_EQ (processor->getPluginStatus(), anotherInstance);
    block->pluginEnabled.store (SharedMemory::channelFree);
    processor->runTimerTickForTesting();
    EXPECT_EQ (processor->getPluginStatus(), noDevice);
    EXPECT_FALSE (processor->getChannel().isInstanceDisabled());
}

TEST_F (Handshake, DeviceModelSetsTheTempoRange)
{
    struct Case { int device; double bpm; bool plays; };
    const Case cases[] = { { SharedMemory::tactora, 400, true }, { SharedMemory::klavo2, 399, true },
                           { SharedMemory::vantel, 250, true }, { SharedMemory::vantel, 251, false },
                           { SharedMemory::invalid, 260, false } };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.device);
        prepareAndConnect (48000, 256);
        block->deviceType.store (c.device);
        processOne (*processor); // confirms and takes the range
        play (2, 256, 48000, c.bpm, samplePosition);
        EXPECT_EQ (processor->getIsPlaying(), c.plays);
        processor.reset();
        drainFifo();
    }
}
