// The block layout's FIFO arithmetic and the code table.

#include "HostIds.h"
#include "SharedMemory.h"
#include "SyncCodes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace veltro;

namespace
{
std::unique_ptr<SharedMemory> freshBlock()
{
    auto m = std::make_unique<SharedMemory>();
    initialiseSharedMemory (*m);
    return m;
}
} // namespace

TEST (FifoArithmetic, NewBlockIsEmptyWithRoomForAllButTwoSlots)
{
    auto m = freshBlock();
    EXPECT_EQ (m->writeIndex.load(), 0u);
    EXPECT_EQ (m->readIndex.load(), 8191u);
    EXPECT_EQ (m->daemonState.load(), SharedMemory::daemonIdle);
    EXPECT_EQ (m->pluginEnabled.load(), SharedMemory::channelFree);
    EXPECT_EQ (fifo::available (0, 8191), 0u);
    EXPECT_EQ (fifo::freeSpace (0, 8191), 8190u);
}

TEST (FifoArithmetic, IndicesWrapAround)
{
    // writeIndex 5, readIndex 8190: six codes, in slots 8191, 0, 1, 2, 3, 4.
    EXPECT_EQ (fifo::available (5, 8190), 6u);
    const uint32_t expected[] = { 8191, 0, 1, 2, 3, 4 };
    for (uint32_t k = 0; k < 6; ++k)
        EXPECT_EQ (fifo::readSlot (8190, k), expected[k]);

    struct Case { uint32_t w, r, free, avail; };
    const Case cases[] = {
        { 0, 8191, 8190, 0 }, { 100, 99, 8191 - 1, 0 }, { 8190, 8191, 0, 8190 },
        { 10, 5, 8186, 4 },   { 5, 10, 4, 8186 },      { 8191, 0, 0, 8190 },
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ (fifo::freeSpace (c.w, c.r), c.free) << c.w << " " << c.r;
        EXPECT_EQ (fifo::available (c.w, c.r), c.avail) << c.w << " " << c.r;
        EXPECT_EQ (fifo::freeSpace (c.w, c.r) + fifo::available (c.w, c.r), kFifoSize - 2);
    }
}

TEST (FifoArithmetic, WriterStopsWhenFullAndReaderGetsEverythingInOrder)
{
    auto m = freshBlock();
    std::vector<uint16_t> codes (9000);
    for (size_t i = 0; i < codes.size(); ++i)
        codes[i] = static_cast<uint16_t> (i + 1);

    EXPECT_EQ (fifo::write (*m, codes.data(), 9000), 8190u);
    EXPECT_EQ (fifo::freeSpace (m->writeIndex.load(), m->readIndex.load()), 0u);
    EXPECT_EQ (fifo::write (*m, codes.data(), 1), 0u);
    EXPECT_EQ (fifo::available (m->writeIndex.load(), m->readIndex.load()), 8190u);

    std::vector<uint16_t> out (9000);
    EXPECT_EQ (fifo::read (*m, out.data(), 9000), 8190u);
    for (size_t i = 0; i < 8190; ++i)
        ASSERT_EQ (out[i], codes[i]) << i;

    // Many small batches across the wrap keep order.
    uint16_t next = 1, expect = 1;
    for (int round = 0; round < 100; ++round)
    {
        uint16_t batch[97];
        for (auto& b : batch)
            b = next++;
        ASSERT_EQ (fifo::write (*m, batch, 97), 97u);
        uint16_t got[97];
        ASSERT_EQ (fifo::read (*m, got, 97), 97u);
        for (auto g : got)
            ASSERT_EQ (g, expect++);
    }
}

TEST (FifoArithmetic, ResetStoresBothIndicesAndGarbageIndicesStayInRange)
{
    auto m = freshBlock();
    m->writeIndex.store (1234);
    m->readIndex.store (77);
    fifo::reset (*m);
    EXPECT_EQ (m->writeIndex.load(), 0u);
    EXPECT_EQ (m->readIndex.load(), 8191u);

    // A rogue writer's out-of-range indices never lead outside the ring.
    m->writeIndex.store (0xFFFFFFF0u);
    m->readIndex.store (0x80000000u);
    uint16_t buffer[16] {};
    fifo::write (*m, buffer, 16);
    fifo::read (*m, buffer, 16);
    EXPECT_LT (m->writeIndex.load(), kFifoSize);
    EXPECT_LT (m->readIndex.load(), kFifoSize);
}

TEST (SyncCodes, TableValues)
{
    struct TempoCase { double bpm; uint16_t high, low; };
    const TempoCase tempos[] = { { 120.0, 0x7878, 0x7000 }, { 0.0, 0x7800, 0x7000 }, { 30.0, 0x781E, 0x7000 },
                                 { 2047.99, 0x7FFF, 0x77EC }, { 0.5 / 2048.0, 0x7800, 0x7000 } };
    for (const auto& c : tempos)
    {
        const auto pair = SyncCode::tempoPair (c.bpm);
        ASSERT_TRUE (pair.has_value()) << c.bpm;
        EXPECT_EQ (pair->high, c.high) << c.bpm;
        EXPECT_EQ (pair->low, c.low) << c.bpm;
    }

    for (double bad : { 2048.0, 2047.995, -0.001, std::nan (""), HUGE_VAL })
        EXPECT_FALSE (SyncCode::tempoPair (bad).has_value()) << bad;

    EXPECT_EQ (SyncCode::timeSignature (6, 8), 0x6064);
    EXPECT_EQ (SyncCode::timeSignature (7, 4), 0x6072);
    EXPECT_EQ (SyncCode::timeSignature (4, 4), 0x6042);

    // Position words for bar 0x2ABCD (18 bits), beat 6, tick 700.
    EXPECT_EQ (SyncCode::positionWord1 (0x2ABCD), 0xB000 + ((0x2ABCD >> 6) & 0xFFF));
    EXPECT_EQ (SyncCode::positionWord2 (0x2ABCD, 6), 0xC000 + ((0x2ABCD & 0x3F) << 6) + 1);
    EXPECT_EQ (SyncCode::positionWord3 (6, 700), 0xD000 + (2 << 10) + 700);

    EXPECT_FLOAT_EQ (SyncCode::toSample (0xD123), (0xD123 - 65536) / 32768.0f);
    EXPECT_FLOAT_EQ (SyncCode::toSample (0x5010), 0x5010 / 32768.0f);
    for (uint32_t code = 0; code <= 0xFFFF; code += 7)
        ASSERT_EQ (SyncCode::fromSample (SyncCode::toSample (static_cast<uint16_t> (code))), code);
}

TEST (HostIds, DawCodesFollowTheChannelNumbering)
{
    struct Case { int host; uint16_t d; };
    const Case cases[] = { { 1, 1 }, { 7, 1 }, { 25, 2 }, { 12, 3 }, { 17, 4 }, { 37, 5 }, { 48, 5 },
                           { 59, 6 }, { 33, 7 }, { 18, 8 }, { 49, 0 }, { 52, 0 }, { 0, 0 }, { 14, 0 }, { 31, 0 } };
    for (const auto& c : cases)
        EXPECT_EQ (HostId::dawCodeForHost (c.host), c.d) << c.host;

    EXPECT_EQ (HostId::mapNuendoToCubase (50), 48);
    EXPECT_EQ (HostId::mapNuendoToCubase (47), 47);
}
