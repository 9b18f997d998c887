// Latency as the host sees it, the block-length watch and the warning rules.

#include "MillisecondClock.h"
#include "ProcessorFixture.h"

#include <thread>

using namespace veltro;
using namespace veltro::testing;

namespace
{
class Latency : public ProcessorFixture
{
protected:
    void processBlockOf (int samples)
    {
        juce::AudioBuffer<float> buffer (2, samples);
        juce::MidiBuffer midi;
        setTransport (true, 120, position / 48000.0 * 2.0, position);
        processor->processBlock (buffer, midi);
        position += samples;
        drainFifo();
    }

    int64_t position = 0;
};
} // namespace

TEST_F (Latency, ReportedToTheHostAndRecomputedFromSettings)
{
    prepareAndConnect (48000, 512, HostId::AbletonLive11);
    EXPECT_EQ (processor->getLatencySamples(), 960);
    EXPECT_EQ (processor->getEncoder().getSyncDelay(), 1332);
    EXPECT_EQ (processor->reportedLatencyMs.load(), 20);

    processor->usingLargeLatencyPlugins = true;
    processor->updateDelaysFromLatency();
    EXPECT_EQ (processor->getLatencySamples(), 12000);
    EXPECT_EQ (processor->getEncoder().getSyncDelay(), 12372);
    EXPECT_LT (processor->getEncoder().getSyncDelay(), processor->getEncoder().getSyncBufferSize());

    EXPECT_EQ (processor->getEncoder().getSyncBufferSize(), 512 + 4800 + (12000 + 512) + 290);
}

TEST_F (Latency, BlockLengthWatchAdoptsANewLengthOnTheEleventhBlock)
{
    prepareAndConnect (48000, 512);
    processBlockOf (512);
    for (int i = 0; i < 10; ++i)
        processBlockOf (480);
    EXPECT_EQ (processor->currentBlockSize.load(), 512);

    processBlockOf (480);
    EXPECT_EQ (processor->currentBlockSize.load(), 480);
    EXPECT_EQ (processor->getEncoder().getSyncDelay(), 240 + 480);
    EXPECT_EQ (block->actualBlockSize.load(), 480) << "the daemon learns the new length in the same block";
    EXPECT_EQ (block->blockSizeChanged.load(), 1);
    EXPECT_EQ (block->nominalBlockSize.load(), 512);

    // A run that is interrupted starts its count again.
    processBlockOf (480);
    for (int i = 0; i < 5; ++i)
        processBlockOf (256);
    processBlockOf (480);
    for (int i = 0; i < 6; ++i)
        processBlockOf (256);
    EXPECT_EQ (processor->currentBlockSize.load(), 480);
}

TEST_F (Latency, LargeBlocksAreAdoptedAtOnceInOneHostAndNeverInAnother)
{
    prepareAndConnect (48000, 512, HostId::AppleLogic);
    processBlockOf (1024);
    EXPECT_EQ (processor->currentBlockSize.load(), 1024);
    processor.reset();

    prepareAndConnect (48000, 512, HostId::FruityLoops);
    for (int i = 0; i < 20; ++i)
        processBlockOf (300);
    EXPECT_EQ (processor->currentBlockSize.load(), 512);
}

TEST_F (Latency, DelayStaysInsideTheRingForEveryInput)
{
    // A state saved with a latency far beyond the editor's range, and a host
    // that then delivers blocks much longer than it announced.
    prepareAndConnect (44100, 64);
    PluginSettings s;
    s.latencyCompensationSeconds = 0.9;
    const auto bytes = serialiseSettings (s);
    processor->setStateInformation (bytes.data(), static_cast<int> (bytes.size()));
    EXPECT_LT (processor->getEncoder().getSyncDelay(), processor->getEncoder().getSyncBufferSize());

    for (int i = 0; i < 12; ++i)
        processBlockOf (8192);
    EXPECT_EQ (processor->currentBlockSize.load(), 8192);
    EXPECT_LT (processor->getEncoder().getSyncDelay(), processor->getEncoder().getSyncBufferSize());
    EXPECT_GE (processor->getEncoder().getSyncDelay(), 0);
}

TEST_F (Latency, WarningCounterRules)
{
    // Every preparation counts, except in one host.
    createProcessor (HostId::Reaper);
    processor->prepareToPlay (48000, 256);
    processor->prepareToPlay (48000, 512);
    EXPECT_EQ (processor->warningCounter.load(), 2);

    // That host counts gaps of 71 ms or more between blocks instead.
    prepareAndConnect (48000, 256, HostId::AvidProTools);
    processor->warningCounter = 0;
    processBlockOf (256);
    const int afterFirst = processor->warningCounter.load(); // the first block follows "never"
    processor->lastProcessBlockTimeMs = millisecondClock() - 100;
    processBlockOf (256);
    EXPECT_EQ (processor->warningCounter.load(), afterFirst + 1);
    processBlockOf (256);
    EXPECT_EQ (processor->warningCounter.load(), afterFirst + 1);

    // A bypass there means the gap that follows is not counted.
    processor->warningCounter = 0;
    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    processor->processBlockBypassed (buffer, midi);
    EXPECT_EQ (processor->warningCounter.load(), -1);
    processor->lastProcessBlockTimeMs = millisecondClock() - 500;
    processBlockOf (256);
    EXPECT_EQ (processor->warningCounter.load(), 0);

    // Loading a state: one host forgets its warning, another skips the next gap.
    processor->warningCounter = 0;
    const auto bytes = serialiseSettings ({});
    processor->setStateInformation (bytes.data(), 14);
    EXPECT_EQ (processor->warningCounter.load(), -1);
    processor.reset();

    prepareAndConnect (48000, 256, HostId::SteinbergCubase10);
    processor->warningCounter = 3;
    processor->setStateInformation (bytes.data(), 14);
    EXPECT_EQ (processor->warningCounter.load(), 0);

    // A latency change there also asks the editor to warn about the track.
    processor->latencyCompensationSeconds = -0.05;
    processor->updateDelaysFromLatency();
    EXPECT_EQ (processor->warningCounter.load(), -1);
}

TEST_F (Latency, BypassedBlocksMarkTheInstanceIdleAndResendTempo)
{
    prepareAndConnect (48000, 256);
    processBlockOf (256);
    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    processor->processBlockBypassed (buffer, midi);
    EXPECT_LE (processor->lastProcessBlockTimeMs.load(), millisecondClock() - 349);
    EXPECT_FALSE (processor->getChannel().isInstanceDisabled()) << "the channel is kept while bypassed";

    // A block without a usable playhead looks the same to the editor.
    head.hasPosition = false;
    processor->processBlock (buffer, midi);
    EXPECT_LE (processor->lastProcessBlockTimeMs.load(), millisecondClock() - 349);
    EXPECT_EQ (fifoFill(), 0u);
}

TEST_F (Latency, ChangeFoundOnTheAudioThreadReachesTheHostFromTheMessageThread)
{
    // In one host a block shorter than prepared changes the reported latency.
    prepareAndConnect (48000, 512, HostId::AvidProTools);
    EXPECT_EQ (processor->getLatencySamples(), 0);

    std::thread audio ([this] {
        processBlockOf (512);
        for (int i = 0; i < 11; ++i)
            processBlockOf (480);
    });
    audio.join();
    EXPECT_EQ (processor->currentBlockSize.load(), 480);
    EXPECT_EQ (processor->getLatencySamples(), 0) << "not told from the audio thread";

    processor->runTimerTickForTesting();
    EXPECT_EQ (processor->getLatencySamples(), 380);
}
