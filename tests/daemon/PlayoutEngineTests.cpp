#include "PlayoutEngine.h"

#include "AllocationCounter.h"
#include "SyncCodes.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace veltro::daemon
{
namespace
{

using M = SharedMemory;
using Outcome = PlayoutEngine::Outcome;

class PlayoutEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        initialiseSharedMemory (m);
        engine.playoutSuspended = false;
    }

    // The block as the timer leaves it after setting up the output.
    void setUpFor (int blockSize, int enabled = M::channelAnnounced)
    {
        m.nominalBlockSize.store (blockSize);
        m.actualBlockSize.store (blockSize);
        m.pluginEnabled.store (enabled);
        m.daemonState.store (M::daemonSettingUp);
        fifo::reset (m);
        engine.prepareForSetup (blockSize, blockSize);
    }

    // Past the burst, confirmed, streaming.
    void startStreaming (int blockSize)
    {
        setUpFor (blockSize);
        callback (32);
        m.pluginEnabled.store (M::channelStreaming);
    }

    Outcome callback (int n)
    {
        out.assign (static_cast<size_t> (n), 0.0f);
        const auto o = engine.processLocked (m, out.data(), n, typeUpdate, M::klavo2);
        engine.finishBlock (o, out.data(), n);
        return o;
    }

    void push (std::initializer_list<uint16_t> codes)
    {
        for (auto c : codes)
            fifo::write (m, &c, 1);
    }

    void pushZeros (int count)
    {
        const uint16_t z = 0;
        for (int i = 0; i < count; ++i)
            fifo::write (m, &z, 1);
    }

    uint16_t codeAt (int i) const { return SyncCode::fromSample (out[static_cast<size_t> (i)]); }

    std::unique_ptr<M> memory = std::make_unique<M>();
    M& m = *memory;
    PlayoutEngine engine { SyncCode::System::onLinux };
    RelaxedValue<bool> typeUpdate { false };
    std::vector<float> out;
};

TEST_F (PlayoutEngineTest, FirstCallbackPlaysTheBurstAndLeavesTheFifoAlone)
{
    setUpFor (256);
    m.hostType.store (17);
    push ({ 0x5010, 0xB000 });

    EXPECT_EQ (callback (32), Outcome::burst);
    EXPECT_EQ (m.daemonState.load(), M::daemonRunning);

    const auto expected = identificationBurst (17, SyncCode::System::onLinux);
    for (int i = 0; i < kBurstLength; ++i)
        EXPECT_EQ (codeAt (i), expected[static_cast<size_t> (i)]) << i;
    EXPECT_EQ (codeAt (17), 0x5904);
    for (int i = kBurstLength; i < 32; ++i)
        EXPECT_EQ (out[static_cast<size_t> (i)], 0.0f);

    EXPECT_EQ (fifo::available (m.writeIndex.load(), m.readIndex.load()), 2u);
}

TEST_F (PlayoutEngineTest, SixteenSampleCallbacksNeverFitTheBurst)
{
    setUpFor (256);
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_EQ (callback (16), Outcome::burstDidNotFit);
        EXPECT_EQ (m.daemonState.load(), M::daemonSettingUp);
        for (float s : out)
            EXPECT_EQ (s, 0.0f);
    }
    EXPECT_EQ (callback (19), Outcome::burst);
    EXPECT_EQ (m.daemonState.load(), M::daemonRunning);
}

TEST_F (PlayoutEngineTest, SuspendsWithoutAPluginOrDuringARateChange)
{
    setUpFor (256, M::channelFree);
    EXPECT_EQ (callback (32), Outcome::suspended);
    EXPECT_TRUE (engine.playoutSuspended.load());

    engine.playoutSuspended = false;
    setUpFor (256, M::channelAnnounced);
    m.sampleRateChanged.store (1);
    EXPECT_EQ (callback (32), Outcome::suspended);
    EXPECT_TRUE (engine.playoutSuspended.load());
}

// Patience: 1024 callbacks of up to 32 samples; a longer callback counts as
// the 32-sample callbacks it spans, so the time waited stays the same.
TEST_F (PlayoutEngineTest, PatienceWhileWaitingAndWhileTheFifoIsEmpty)
{
    struct Case
    {
        int n;
        int givesUpAt; // callback number after the burst
    };

    for (bool streaming : { false, true })
        for (const auto& c : { Case { 16, 1025 }, Case { 32, 1025 }, Case { 48, 513 }, Case { 256, 129 }, Case { 1024, 33 } })
        {
            engine.playoutSuspended = false;
            engine.idleCallbackCount = 0;
            setUpFor (256);
            callback (c.n < kBurstLength ? 32 : c.n);
            if (streaming)
                m.pluginEnabled.store (M::channelStreaming);

            int k = 1;
            for (; k < 5000; ++k)
                if (const auto o = callback (c.n); o == Outcome::gaveUp)
                    break;
                else
                    ASSERT_EQ (o, streaming ? Outcome::played : Outcome::waiting);

            EXPECT_EQ (k, c.givesUpAt) << "n " << c.n << (streaming ? " streaming" : " waiting");
            EXPECT_EQ (m.pluginEnabled.load(), M::channelFree);
            EXPECT_TRUE (engine.playoutSuspended.load());
        }
}

TEST_F (PlayoutEngineTest, CodesAvailableResetThePatience)
{
    startStreaming (32);
    for (int i = 0; i < 1000; ++i)
        callback (32);
    push ({ 0x5030 });
    callback (32);
    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ (callback (32), Outcome::played) << i;
    EXPECT_EQ (callback (32), Outcome::gaveUp);
}

TEST_F (PlayoutEngineTest, TenCodesInA32SampleCallbackArePaddedAtTheEnd)
{
    startStreaming (256);
    push ({ 0xA001, 0xA002, 0xA003, 0xA004, 0xA005, 0xA006, 0xA007, 0xA008, 0xA009, 0xA00A });

    EXPECT_EQ (callback (32), Outcome::played);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ (codeAt (i), 0xA001 + i);
    for (int i = 10; i < 32; ++i)
        EXPECT_EQ (out[static_cast<size_t> (i)], 0.0f);
    EXPECT_EQ (engine.fill.adjustment, 0);
    EXPECT_EQ (engine.stats.silenceInserted, 22);
}

TEST_F (PlayoutEngineTest, AnExcessOf112IsDroppedFromZeroCodesOnly)
{
    startStreaming (256);
    // 400 codes: a tick every 4th slot, zeros between.
    for (int i = 0; i < 400; ++i)
        push ({ static_cast<uint16_t> (i % 4 == 0 ? 0xA000 + i : 0) });

    EXPECT_EQ (callback (32), Outcome::played);
    // Every zero met is skipped (up to 112), so the 32 samples are the first
    // 32 ticks; the 93 zeros between them were dropped.
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ (codeAt (i), 0xA000 + 4 * i) << i;
    EXPECT_EQ (engine.stats.zerosDropped, 93);
    EXPECT_EQ (engine.fill.adjustment, 0); // the rest of the correction is given up
    EXPECT_EQ (fifo::available (m.writeIndex.load(), m.readIndex.load()), 400u - 125u);
}

TEST_F (PlayoutEngineTest, MarkersEveryTenthShortCallbackInTheFirstSilentSample)
{
    startStreaming (32);
    std::vector<int> markerCallbacks;
    for (int k = 1; k <= 31; ++k)
    {
        pushZeros (32);
        if (k == 11)
            push ({}); // nothing special: the next lines put codes first
        if (k == 21)
        {
            // A block starting with codes takes the marker after them.
            const uint16_t codes[3] = { 0xA001, 0xA002, 0xA003 };
            m.readIndex.store (m.readIndex.load()); // no change
            for (int i = 0; i < 3; ++i)
                m.samples[fifo::readSlot (m.readIndex.load(), static_cast<uint32_t> (i))] = codes[i];
        }
        ASSERT_EQ (callback (32), Outcome::played);
        for (int i = 0; i < 32; ++i)
            if (codeAt (i) == SyncCode::marker)
            {
                markerCallbacks.push_back (k);
                EXPECT_EQ (i, k == 21 ? 3 : 0);
            }
    }
    EXPECT_EQ (markerCallbacks, (std::vector<int> { 11, 21, 31 }));
}

TEST_F (PlayoutEngineTest, LongCallbacksCarryMarkersAbout300SamplesApart)
{
    startStreaming (64);
    std::vector<int64_t> at;
    int64_t base = 0;
    for (int k = 0; k < 12; ++k)
    {
        pushZeros (2000);
        ASSERT_EQ (callback (1024), Outcome::played);
        for (int i = 0; i < 1024; ++i)
            if (codeAt (i) == SyncCode::marker)
                at.push_back (base + i);
        base += 1024;
    }
    ASSERT_GT (at.size(), 30u);
    for (size_t i = 1; i < at.size(); ++i)
        EXPECT_EQ (at[i] - at[i - 1], 300) << i;
}

TEST_F (PlayoutEngineTest, ADeviceChangeResetsTheFifoAndSendsTheBurstAgain)
{
    startStreaming (64);
    push ({ 0xA001, 0xA002 });
    typeUpdate = true;
    EXPECT_EQ (callback (32), Outcome::burst);
    EXPECT_FALSE (typeUpdate.load());
    EXPECT_EQ (m.deviceType.load(), M::klavo2);
    EXPECT_EQ (fifo::available (m.writeIndex.load(), m.readIndex.load()), 0u);
    EXPECT_EQ (codeAt (0), SyncCode::marker);
}

TEST_F (PlayoutEngineTest, BlockSizeChangesAreTakenOverWhileStreaming)
{
    startStreaming (64);
    m.nominalBlockSize.store (512);
    m.actualBlockSize.store (480);
    m.blockSizeChanged.store (1);
    pushZeros (100);
    callback (32);
    EXPECT_EQ (engine.fill.pluginNominalBlockSize, 512);
    EXPECT_EQ (engine.fill.pluginActualBlockSize, 480);
    EXPECT_EQ (m.blockSizeChanged.load(), 0);
}

// A rogue writer fills the status fields and indices with garbage: the
// engine must neither crash nor read outside the block (run under ASan too).
TEST_F (PlayoutEngineTest, GarbageInTheBlockIsSurvived)
{
    std::mt19937 random (1234);
    auto any = [&] { return static_cast<int32_t> (random()); };
    const int32_t specials[] = { 0, -1, 1, 2, 3, 4, 8191, 8192, -2147483647 - 1, 2147483647 };

    for (int round = 0; round < 20000; ++round)
    {
        auto pick = [&] { return random() % 3 == 0 ? specials[random() % 10] : any(); };
        m.writeIndex.store (static_cast<uint32_t> (pick()));
        m.readIndex.store (static_cast<uint32_t> (pick()));
        m.daemonState.store (random() % 2 ? pick() : M::daemonRunning);
        m.pluginEnabled.store (random() % 2 ? pick() : M::channelStreaming);
        m.hostType.store (static_cast<uint16_t> (pick()));
        m.sampleRateChanged.store (static_cast<uint8_t> (pick()));
        m.nominalBlockSize.store (pick());
        m.actualBlockSize.store (pick());
        m.blockSizeChanged.store (static_cast<uint8_t> (random() % 2));
        for (int i = 0; i < 64; ++i)
            m.samples[random() % kFifoSize] = static_cast<uint16_t> (random());
        engine.playoutSuspended = false;

        const int sizes[] = { 1, 16, 19, 32, 33, 256, 1024, 4096 };
        const int n = sizes[random() % 8];
        if (callback (n) == Outcome::played)
        {
            EXPECT_LT (m.readIndex.load(), kFifoSize);
        }
        ASSERT_GE (engine.fill.pluginNominalBlockSize, 0);
    }
}

TEST_F (PlayoutEngineTest, TheCallbackAllocatesNothing)
{
    startStreaming (64);
    std::vector<float> buffer (1024);
    std::vector<uint16_t> codes (1024, 0);
    codes[5] = 0xA123;

    veltro::testing::startCountingAllocations();
    for (int k = 0; k < 3000; ++k)
    {
        fifo::write (m, codes.data(), static_cast<uint32_t> (k % 3 == 0 ? 64 : 20));
        const int n = k % 2 == 0 ? 32 : 1024;
        std::fill (buffer.begin(), buffer.begin() + n, 0.0f);
        const auto o = engine.processLocked (m, buffer.data(), n, typeUpdate, M::tactora);
        engine.finishBlock (o, buffer.data(), n);
        if (k == 1500)
            typeUpdate = true;
    }
    EXPECT_EQ (veltro::testing::stopCountingAllocations(), 0);
}

} // namespace
} // namespace veltro::daemon
