// Cost of one daemon audio callback while playing: the lock on the real
// shared block, playout with the fill controller active, markers. The goal
// is at most 2 us per 32-sample callback.

#include "PlayoutEngine.h"
#include "SharedMemoryHandler.h"

#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using namespace veltro;

void playingCallback (benchmark::State& state)
{
    const int n = static_cast<int> (state.range (0));
    const int hostBlock = static_cast<int> (state.range (1));

    ChannelNames names;
    names.sharedMemory = "/veltro_bench_shm_" + std::to_string (getpid());
    names.semaphore = "/veltro_bench_sem_" + std::to_string (getpid());
    SharedMemoryHandler handler (names);
    if (! handler.createAndInitialise())
    {
        state.SkipWithError ("no shared memory");
        return;
    }

    auto& m = *handler.getMemory();
    m.pluginEnabled.store (SharedMemory::channelStreaming);
    m.daemonState.store (SharedMemory::daemonRunning);
    m.nominalBlockSize.store (hostBlock);
    m.actualBlockSize.store (hostBlock);

    daemon::PlayoutEngine engine (SyncCode::System::onLinux);
    engine.prepareForSetup (hostBlock, hostBlock);
    engine.playoutSuspended = false;
    RelaxedValue<bool> typeUpdate { false };

    // A tick every 16 samples, zeros between, as a busy stream looks.
    std::vector<uint16_t> block (static_cast<size_t> (hostBlock));
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = i % 16 == 0 ? static_cast<uint16_t> (0xA000 + i) : 0;

    std::vector<float> out (static_cast<size_t> (n));
    int64_t produced = 0, consumed = 0;

    for (auto _ : state)
    {
        // The producer runs 200 ppm fast so the controller keeps dropping; its
        // copy (n codes per callback on average) is included in the figure,
        // as pausing the timer would cost more than the callback itself.
        while (produced < consumed + consumed / 5000 + hostBlock + n + 64)
        {
            fifo::write (m, block.data(), static_cast<uint32_t> (hostBlock));
            produced += hostBlock;
        }

        std::fill (out.begin(), out.end(), 0.0f);
        if (handler.tryLock())
        {
            const auto o = engine.processLocked (m, out.data(), n, typeUpdate, SharedMemory::tactora);
            handler.unlock();
            engine.finishBlock (o, out.data(), n);
        }
        benchmark::DoNotOptimize (out.data());
        consumed += n;
    }

    state.counters["nudges"] = static_cast<double> (engine.fill.counters.nudgesUp + engine.fill.counters.nudgesDown);
    handler.close (true);
}

BENCHMARK (playingCallback)->Args ({ 32, 32 })->Args ({ 32, 512 })->Args ({ 256, 64 })->Args ({ 1024, 512 })->Unit (benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
