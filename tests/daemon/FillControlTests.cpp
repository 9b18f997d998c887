#include "FillControl.h"

#include <gtest/gtest.h>

namespace veltro::daemon
{
namespace
{

FillControl controlWithBlocks (int nominal, int actual)
{
    FillControl f;
    f.setBlockSizes (nominal, actual);
    f.resetDrift();
    return f;
}

TEST (FillControl, ImmediateCorrectionsWithShortCallbacks)
{
    struct Case
    {
        int block;
        int available;
        int adjustment;
    };

    const Case cases[] = {
        { 256, 10, 22 },    // almost empty: padded up to 32
        { 256, 0, 32 },
        { 256, 31, 1 },
        { 256, 400, -112 }, // more than a block above target: cut back to block + 32
        { 256, 321, -33 },
        { 256, 320, 0 },    // exactly block + 64 is still fine
        { 0, 65, -33 },     // a block size of 0 keeps the same formula
    };

    for (const auto& c : cases)
    {
        auto f = controlWithBlocks (c.block, c.block);
        f.update (c.available, 32);
        EXPECT_EQ (f.adjustment, c.adjustment) << "block " << c.block << ", available " << c.available;
        EXPECT_EQ (f.lastFill, c.available);
    }
}

TEST (FillControl, EvaluationLimitFollowsTheBlockSizeAndSurvivesZero)
{
    const std::pair<int, int> cases[] = { { 256, 128 }, { 32, 1024 }, { 2048, 16 }, { 8192, 4 }, { 0, 1024 }, { -5, 1024 }, { 1 << 30, 4 } };
    for (auto [block, limit] : cases)
    {
        auto f = controlWithBlocks (block, block);
        EXPECT_EQ (f.evaluationLimit(), limit) << block;
    }
}

// Blocks of up to 32 samples evaluate every call: a level that stays low for
// 32768 / B evaluations starts one-sample insertions, 32 of them.
TEST (FillControl, PersistentLowLevelNudgesUpAfterTheLimit)
{
    auto f = controlWithBlocks (32, 32);
    const int limit = f.evaluationLimit();

    for (int i = 0; i < limit - 1; ++i)
    {
        f.update (50, 32);
        ASSERT_EQ (f.adjustment, 0) << i;
    }

    int nudges = 0;
    for (int i = 0; i < 40; ++i)
    {
        f.update (50, 32);
        nudges += f.adjustment;
        f.adjustment = 0; // as if played
    }

    EXPECT_EQ (nudges, 32);
    EXPECT_EQ (f.driftMode, 0);
    EXPECT_EQ (f.nudgeBalance, 0);
}

TEST (FillControl, PersistentHighLevelNudgesDownOrCutsALargeExcess)
{
    struct Case
    {
        int fill;
        int firstAdjustment;
    };

    for (const auto& c : { Case { 80, -1 }, Case { 90, -1 }, Case { 97, 64 - 97 } })
    {
        auto f = controlWithBlocks (64, 16);
        for (int i = 0; i < f.evaluationLimit() - 1; ++i)
            f.update (c.fill, 32);
        ASSERT_EQ (f.adjustment, 0);
        f.update (c.fill, 32);
        EXPECT_EQ (f.adjustment, c.firstAdjustment) << c.fill;
    }
}

// Longer host blocks are judged only at the bottom of each dip.
TEST (FillControl, LongHostBlocksEvaluateAtTheBottomOfDips)
{
    auto f = controlWithBlocks (256, 256);
    const int limit = f.evaluationLimit(); // 128

    // The fill falls by 32 per callback and rises by 256 per host block; its
    // lowest value is 40, below target.
    int evaluations = 0;
    for (int cycle = 0; evaluations < limit + 2; ++cycle)
    {
        for (int fill = 264; fill >= 40; fill -= 32)
        {
            f.update (fill, 32);
            if (f.adjustment != 0)
                goto nudged;
        }
        ++evaluations;
    }
    FAIL() << "no nudge";

nudged:
    EXPECT_EQ (f.adjustment, 1);
    // Counted once per dip; the very first call also counts, as a rise from
    // the initial lastFill of 0.
    EXPECT_EQ (evaluations + 1, limit);
    EXPECT_EQ (f.driftMode, 1);
}

TEST (FillControl, RogueBlockSizesAreClamped)
{
    for (int v : { -1, -2147483647 - 1, 2147483647, 0, 100000 })
    {
        auto f = controlWithBlocks (v, v);
        EXPECT_GE (f.pluginNominalBlockSize, 0);
        EXPECT_LE (f.pluginNominalBlockSize, FillControl::kMaxBlockSize);
        for (int a : { 0, 31, 64, 8190 })
            for (int n : { 16, 32, 256, 1024 })
            {
                f.adjustment = 0;
                f.update (a, n);
                EXPECT_GE (f.adjustment, -8192);
                EXPECT_LE (f.adjustment, 8192);
            }
    }
}

// Long callbacks: a read of n must find n codes; the band starts one step
// (the shorter of block and callback) plus 32 above that.
TEST (FillControl, LongCallbacksKeepTheLowestFillInABand)
{
    struct Case
    {
        int block, callback, fill, adjustment;
    };

    const Case immediate[] = {
        { 64, 256, 200, 56 },  // fewer codes than one read: padded to a full read
        { 64, 256, 255, 1 },
        { 64, 256, 256, 0 },
        { 64, 1024, 1000, 24 },
    };
    for (const auto& c : immediate)
    {
        auto f = controlWithBlocks (c.block, c.block);
        f.update (c.fill, c.callback);
        EXPECT_EQ (f.adjustment, c.adjustment) << c.block << "/" << c.callback << " fill " << c.fill;
    }

    // Fill 300 with blocks of 64 and callbacks of 256 is below the band
    // (256 + 64 + 32 = 352): after enough windows it nudges up; 400 is inside.
    for (auto [fill, expectNudge] : { std::pair { 300, 1 }, std::pair { 400, 0 }, std::pair { 480, -1 } })
    {
        auto f = controlWithBlocks (64, 64);
        int first = 0;
        for (int i = 0; i < 4000 && first == 0; ++i)
        {
            f.update (fill, 256);
            first = f.adjustment;
        }
        EXPECT_EQ (first, expectNudge) << fill;
    }
}

} // namespace
} // namespace veltro::daemon
