// The processor as the host sees it: properties, buses, block arithmetic,
// state, and its first steps on the channel.

#include "AllocationCounter.h"
#include "ProcessorFixture.h"

#include <cmath>

using namespace veltro;
using namespace veltro::testing;

TEST_F (ProcessorFixture, PropertiesAndBuses)
{
    createProcessor();
    EXPECT_EQ (processor->getName(), "Veltro");
    EXPECT_TRUE (processor->acceptsMidi());
    EXPECT_FALSE (processor->producesMidi());
    EXPECT_FALSE (processor->isMidiEffect());
    EXPECT_EQ (processor->getTailLengthSeconds(), 0.0);
    EXPECT_TRUE (processor->hasEditor());
    EXPECT_EQ (processor->getNumPrograms(), 1);
    EXPECT_EQ (processor->getCurrentProgram(), 0);
    EXPECT_EQ (processor->getProgramName (0), "");

    EXPECT_EQ (processor->getBusCount (true), 0);
    ASSERT_EQ (processor->getBusCount (false), 1);
    EXPECT_EQ (processor->getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (processor->getBus (false, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());

    juce::AudioProcessor::BusesLayout layout;
    layout.outputBuses.add (juce::AudioChannelSet::stereo());
    EXPECT_TRUE (processor->checkBusesLayoutSupported (layout));
    layout.outputBuses.getReference (0) = juce::AudioChannelSet::mono();
    EXPECT_TRUE (processor->checkBusesLayoutSupported (layout));
    layout.outputBuses.getReference (0) = juce::AudioChannelSet::create5point1();
    EXPECT_FALSE (processor->checkBusesLayoutSupported (layout));
}

TEST_F (ProcessorFixture, ClaimAnnounceConfirmAndStream)
{
    createProcessor();
    EXPECT_EQ (processor->getPluginStatus(), noDevice);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelClaimed);
    EXPECT_EQ (block->instanceCounter.load(), 1);

    processor->prepareToPlay (48000, 512);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelAnnounced);
    EXPECT_EQ (block->sampleRateChanged.load(), 1);
    EXPECT_EQ (block->sampleRateIs44100.load(), 0);
    EXPECT_EQ (block->nominalBlockSize.load(), 512);

    // While the daemon has not taken the new rate over, blocks write nothing.
    play (3, 512, 48000, 120);
    EXPECT_EQ (fifoFill(), 0u);

    daemonSetsUpOutput();
    play (1, 512, 48000, 120);
    EXPECT_EQ (block->pluginEnabled.load(), SharedMemory::channelStreaming);
    EXPECT_EQ (processor->getPluginStatus(), active);
    EXPECT_EQ (fifoFill(), 512u);

    const auto codes = drainFifo();
    ASSERT_FALSE (codes.empty());
    EXPECT_EQ (codes[0], SyncCode::start);
    EXPECT_EQ (codes[1], SyncCode::positionWord1 (0));
    EXPECT_TRUE (processor->getIsPlaying());
}

TEST_F (ProcessorFixture, RateDividersAndRemainders)
{
    struct Case { double rate; int divider; bool is44100; };
    const Case cases[] = { { 44100, 1, true }, { 48000, 1, false }, { 88200, 2, true },
                           { 96000, 2, false }, { 176400, 4, true }, { 192000, 4, false } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.rate);
        prepareAndConnect (c.rate, 512);
        EXPECT_EQ (processor->rateDivider.load(), c.divider);
        EXPECT_EQ (block->sampleRateIs44100.load(), c.is44100 ? 1 : 0);
        EXPECT_EQ (block->nominalBlockSize.load(), 512 / c.divider);

        play (1, 512, c.rate, 120);
        EXPECT_EQ (fifoFill(), static_cast<uint32_t> (512 / c.divider));
        drainFifo();
        processor.reset();
        block->pluginEnabled.store (0);
    }

    // 511-sample blocks at divider 2: 255 sync samples, then the carried sample makes 256.
    prepareAndConnect (96000, 511);
    play (1, 511, 96000, 120);
    EXPECT_EQ (fifoFill(), 255u);
    EXPECT_EQ (processor->getSampleRemainder(), 1);
    play (1, 511, 96000, 120, 511);
    EXPECT_EQ (fifoFill(), 511u);
    EXPECT_EQ (processor->getSampleRemainder(), 0);
}

TEST_F (ProcessorFixture, BufferLongerThanPreparedYieldsOnlyThePreparedLength)
{
    prepareAndConnect (48000, 256);
    juce::AudioBuffer<float> buffer (2, 1024);
    juce::MidiBuffer midi;
    setTransport (true, 120, 0.0, 0);
    processor->processBlock (buffer, midi);
    EXPECT_EQ (fifoFill(), 256u);
}

TEST_F (ProcessorFixture, StateRoundTripAndShortState)
{
    createProcessor();
    processor->latencyCompensationSeconds = -0.012;
    processor->bufferSizeSetting = 128;
    processor->usingLargeLatencyPlugins = true;
    processor->settingsVisible = true;

    juce::MemoryBlock state;
    processor->getStateInformation (state);
    ASSERT_EQ (state.getSize(), 14u);

    createProcessor();
    processor->setStateInformation (state.getData(), 14);
    EXPECT_EQ (processor->latencyCompensationSeconds.load(), -0.012);
    EXPECT_EQ (processor->bufferSizeSetting.load(), 128);
    EXPECT_TRUE (processor->usingLargeLatencyPlugins.load());
    EXPECT_TRUE (processor->settingsVisible.load());

    createProcessor();
    processor->setStateInformation (state.getData(), 13);
    EXPECT_FALSE (processor->settingsVisible.load());
    EXPECT_TRUE (processor->usingLargeLatencyPlugins.load());

    // A state from another host that allowed 1024 is limited here.
    createProcessor (HostId::AppleLogic);
    processor->bufferSizeSetting = 1024;
    processor->getStateInformation (state);
    createProcessor (HostId::AppleLogic);
    processor->setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    EXPECT_EQ (processor->bufferSizeSetting.load(), 512);
}

TEST_F (ProcessorFixture, OutputIsSilentExceptForTheKeepAlivePatternOneHostNeeds)
{
    for (int host : { HostId::UnknownHost, HostId::BitwigStudio })
    {
        SCOPED_TRACE (host);
        prepareAndConnect (48000, 64, host);
        juce::AudioBuffer<float> buffer (2, 64);
        buffer.applyGain (0.0f);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < 64; ++i)
                buffer.setSample (ch, i, 0.5f);
        juce::MidiBuffer midi;
        setTransport (true, 120, 0.0, 0);
        processor->processBlock (buffer, midi);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < 64; ++i)
            {
                const float expected = host == HostId::BitwigStudio ? (i % 2 == 0 ? 0.00001f : -0.00001f) : 0.0f;
                ASSERT_EQ (buffer.getSample (ch, i), expected) << ch << " " << i;
            }
        processor.reset();
        block->pluginEnabled.store (0);
    }
}

TEST_F (ProcessorFixture, AudioPathAllocatesNothing)
{
    prepareAndConnect (48000, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    midi.ensureSize (1024);

    // Warm up once so lazily created JUCE state (denormal guards etc.) exists.
    setTransport (true, 120, 0.0, 0);
    processor->processBlock (buffer, midi);

    startCountingAllocations();
    int64_t pos = 512;
    for (int i = 0; i < 400; ++i)
    {
        // Tempo steps, a stop, a restart and a jump: every path of the encoder.
        const double bpm = i < 100 ? 120.0 : (i < 200 ? 97.5 : 240.0);
        const bool playing = ! (i >= 250 && i < 260);
        if (i == 300)
            pos += 48000 * 3;
        setTransport (playing, bpm, static_cast<double> (pos) / 48000.0 * bpm / 60.0, pos);
        processor->processBlock (buffer, midi);
        processor->processBlockBypassed (buffer, midi);
        pos += 512;
        if (i % 16 == 0)
        {
            uint16_t sink[kFifoSize];
            daemon.tryLock();
            fifo::read (*block, sink, kFifoSize);
            daemon.unlock();
        }
    }
    EXPECT_EQ (stopCountingAllocations(), 0);
}

TEST_F (ProcessorFixture, BadHostInputNeverBreaksTheStream)
{
    prepareAndConnect (0.0, 0); // a host that prepares with nonsense
    EXPECT_EQ (processor->currentSampleRate.load(), 44100.0);
    EXPECT_GT (processor->maxBlockSize.load(), 0);
    EXPECT_LT (processor->getEncoder().getSyncDelay(), processor->getEncoder().getSyncBufferSize());

    const double nan = std::nan ("");
    struct Case { bool playing; double bpm, ppq, barStart; int64_t samples; int num, den; int blockSize; };
    const Case cases[] = {
        { true, nan, 0.0, 0.0, 0, 4, 4, 256 },
        { true, HUGE_VAL, 1.0, 0.0, 100, 4, 4, 256 },
        { true, -120.0, 1.0, 0.0, 100, 4, 4, 256 },
        { true, 120.0, nan, 0.0, 100, 4, 4, 256 },
        { true, 120.0, HUGE_VAL, nan, 100, 4, 4, 256 },
        { true, 120.0, -HUGE_VAL, 0.0, -5000, 4, 4, 256 },
        { true, 120.0, 1e18, 1e18, std::numeric_limits<int64_t>::max(), 4, 4, 256 },
        { true, 120.0, 8.0, 8.0, std::numeric_limits<int64_t>::min(), 0, 0, 256 },
        { true, 120.0, 9.0, 8.0, 100, -3, 0, 1 },
        { true, 1e-300, 10.0, 8.0, 100, 255, 1, 0 },
        { false, 120.0, 10.0, 8.0, 100, 4, 4, 100000 },
        { true, 399.0, 10.0, 8.0, 100, 4, 4, 4096 },
    };

    juce::MidiBuffer midi;
    for (const auto& c : cases)
    {
        juce::AudioBuffer<float> buffer (2, c.blockSize);
        head.info.setIsPlaying (c.playing);
        head.info.setBpm (c.bpm);
        head.info.setPpqPosition (c.ppq);
        head.info.setPpqPositionOfLastBarStart (c.barStart);
        head.info.setTimeInSamples (c.samples);
        head.info.setTimeSignature (juce::AudioPlayHead::TimeSignature { c.num, c.den });
        for (int repeat = 0; repeat < 3; ++repeat)
            processor->processBlock (buffer, midi);
        drainFifo();
    }

    // And the stream still works afterwards.
    drainFifo();
    play (20, 256, 44100, 120);
    const auto codes = drainFifo();
    EXPECT_EQ (codes.size(), 20u * 256u);
    EXPECT_TRUE (processor->getIsPlaying());
}
