// processBlock cost per sync sample, with the channel live: handshake, code
// generation and the copy into the FIFO, as a host would run it.

#include "PluginProcessor.h"
#include "SharedMemoryHandler.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <unistd.h>

using namespace veltro;

namespace
{
class SteadyHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override { return info; }
    PositionInfo info;
};

void processBlockCost (benchmark::State& state)
{
    const int blockSize = static_cast<int> (state.range (0));
    const double rate = static_cast<double> (state.range (1));
    const double bpm = static_cast<double> (state.range (2));
    const bool playing = bpm > 0.0;

    const ChannelNames names { "/VeltroBench_SHM_" + std::to_string (getpid()), "/VeltroBench_SEM_" + std::to_string (getpid()) };
    SharedMemoryHandler daemon (names);
    if (! daemon.createAndInitialise())
    {
        state.SkipWithError ("cannot create the channel");
        return;
    }
    auto* block = daemon.getMemory();

    {
        PluginAudioProcessor processor (names);
        SteadyHead head;
        processor.setPlayHead (&head);
        processor.prepareToPlay (rate, blockSize);

        block->sampleRateChanged.store (0);
        block->daemonState.store (SharedMemory::daemonRunning);
        block->deviceType.store (SharedMemory::tactora); // allows up to 400 BPM

        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        int64_t pos = 0;
        const double tempo = playing ? bpm : 120.0;

        for (auto _ : state)
        {
            head.info.setIsPlaying (playing);
            head.info.setBpm (tempo);
            head.info.setTimeInSamples (pos);
            const double ppq = static_cast<double> (pos) / rate * tempo / 60.0;
            head.info.setPpqPosition (ppq);
            head.info.setPpqPositionOfLastBarStart (std::floor (ppq / 4.0) * 4.0);
            head.info.setTimeSignature (juce::AudioPlayHead::TimeSignature { 4, 4 });

            processor.processBlock (buffer, midi);
            fifo::reset (*block); // the daemon's side, reduced to emptying the FIFO
            pos += blockSize;
        }

        const auto syncSamples = static_cast<double> (blockSize / rateDividerFor (rate));
        // Seconds per sync sample (printed with an SI prefix, e.g. 12n = 12 ns).
        state.counters["per_sync_sample"] = benchmark::Counter (
            syncSamples, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }

    daemon.close (true);
}

void blockSizesRatesAndTempos (benchmark::internal::Benchmark* b)
{
    for (int blockSize : { 32, 256, 1024, 4096 })
        for (int rate : { 44100, 96000, 192000 })
            for (int bpm : { 0, 30, 120, 400 }) // 0: stopped
                b->Args ({ blockSize, rate, bpm });
}
} // namespace

// How long the audio thread holds the channel's lock per block: the handshake
// step (a few fields) and the copy of one block of codes into the FIFO. Both
// run uncontended here, so the figure is the hold time plus one sem_trywait
// and one sem_post.
void lockHold (benchmark::State& state)
{
    const int n = static_cast<int> (state.range (0));
    const bool copy = state.range (1) != 0;
    const ChannelNames names { "/VeltroBenchL_SHM_" + std::to_string (getpid()), "/VeltroBenchL_SEM_" + std::to_string (getpid()) };
    SharedMemoryHandler daemon (names);
    if (! daemon.createAndInitialise())
    {
        state.SkipWithError ("cannot create the channel");
        return;
    }
    auto* block = daemon.getMemory();

    {
        ChannelClient client (names);
        client.tryToReenablePluginInstance();
        client.announce ({ 48000.0, 1, n });
        block->sampleRateChanged.store (0);
        block->daemonState.store (SharedMemory::daemonRunning);

        SyncEncoder encoder;
        encoder.allocate (n * 4);
        const Announcement a { 48000.0, 1, n };

        for (auto _ : state)
        {
            if (copy)
            {
                client.sendDataToSharedMemory (encoder, n);
                fifo::reset (*block);
            }
            else
            {
                benchmark::DoNotOptimize (client.processHandshake (encoder, n, a));
            }
        }
    }

    daemon.close (true);
}

BENCHMARK (lockHold)->Args ({ 4096, 0 })->Args ({ 512, 1 })->Args ({ 4096, 1 })->ArgNames ({ "block", "copy" });

BENCHMARK (processBlockCost)->Apply (blockSizesRatesAndTempos)->ArgNames ({ "block", "rate", "bpm" });
