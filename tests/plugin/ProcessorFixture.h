#pragma once

// A processor on its own channel, a hand-driven daemon side, and a playhead
// the test scripts.

#include "HostIds.h"
#include "PluginProcessor.h"
#include "SharedMemoryHandler.h"
#include "SyncCodes.h"

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace veltro::testing
{

class ScriptedHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override { return hasPosition ? juce::Optional<PositionInfo> (info) : juce::nullopt; }

    PositionInfo info;
    bool hasPosition = true;
};

inline ChannelNames uniqueTestNames()
{
    static int counter = 0;
    const auto suffix = std::to_string (getpid()) + "_p" + std::to_string (++counter);
    return { "/VeltroTest_SHM_" + suffix, "/VeltroTest_SEM_" + suffix };
}

class ProcessorFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (daemon.createAndInitialise());
        block = daemon.getMemory();
    }

    void TearDown() override
    {
        processor.reset();
        daemon.close (true);
    }

    void createProcessor (int hostId = HostId::UnknownHost)
    {
        processor = std::make_unique<PluginAudioProcessor> (names);
        processor->setHostTypeForTesting (hostId);
        processor->setPlayHead (&head);
    }

    // What the daemon's timer and first callback do once a rate was announced.
    void daemonSetsUpOutput()
    {
        ASSERT_TRUE (daemon.tryLock());
        if (block->pluginEnabled.load() == SharedMemory::channelAnnounced)
        {
            block->sampleRateChanged.store (0);
            block->blockSizeChanged.store (0);
            fifo::reset (*block);
            block->daemonState.store (SharedMemory::daemonRunning);
        }
        daemon.unlock();
    }

    void prepareAndConnect (double rate, int blockSize, int hostId = HostId::UnknownHost)
    {
        createProcessor (hostId);
        processor->prepareToPlay (rate, blockSize);
        daemonSetsUpOutput();
    }

    void setTransport (bool playing, double bpm, double ppq, int64_t samplePos)
    {
        head.info.setIsPlaying (playing);
        head.info.setBpm (bpm);
        head.info.setPpqPosition (ppq);
        head.info.setTimeInSamples (samplePos);
        head.info.setTimeSignature (juce::AudioPlayHead::TimeSignature { 4, 4 });
        head.info.setPpqPositionOfLastBarStart (std::floor (ppq / 4.0) * 4.0);
    }

    // Runs blocks of a steady transport and returns how many host samples passed.
    int64_t play (int blocks, int blockSize, double rate, double bpm, int64_t startSample = 0, bool playing = true)
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        int64_t pos = startSample;
        for (int i = 0; i < blocks; ++i)
        {
            setTransport (playing, bpm, static_cast<double> (pos) / rate * bpm / 60.0, pos);
            processor->processBlock (buffer, midi);
            pos += blockSize;
        }
        return pos - startSample;
    }

    std::vector<uint16_t> drainFifo()
    {
        std::vector<uint16_t> out (kFifoSize);
        daemon.tryLock();
        out.resize (fifo::read (*block, out.data(), kFifoSize));
        daemon.unlock();
        return out;
    }

    uint32_t fifoFill() const
    {
        return fifo::available (block->writeIndex.load(), block->readIndex.load());
    }

    ChannelNames names = uniqueTestNames();
    SharedMemoryHandler daemon { names };
    SharedMemory* block = nullptr;
    ScriptedHead head;
    std::unique_ptr<PluginAudioProcessor> processor;
};

} // namespace veltro::testing
