// Delay and reported latency per host, ring sizes and the buffer-size limits.

#include "HostIds.h"
#include "LatencyModel.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace veltro;

namespace
{
LatencyInputs inputs (int host, double rate, int block, int bufferSetting, double latencySeconds, bool large = false,
                      int currentBlock = -1)
{
    LatencyInputs in;
    in.hostType = host;
    in.currentSampleRate = rate;
    in.rateDivider = rateDividerFor (rate);
    in.maxBlockSize = block;
    in.currentBlockSize = currentBlock < 0 ? block : currentBlock;
    in.bufferSizeSetting = bufferSetting;
    in.latencyCompensationSeconds = latencySeconds;
    in.usingLargeLatencyPlugins = large;
    return in;
}
} // namespace

TEST (LatencyModel, DelayAndLatencyPerHost)
{
    struct Case
    {
        const char* what;
        LatencyInputs in;
        int syncDelay, latency, reportedMs;
    };

    const Case cases[] = {
        { "Live 48k 512", inputs (HostId::AbletonLive11, 48000, 512, 256, 0.0), 1332, 960, 20 },
        { "Live 48k 512 large-latency plug-ins", inputs (HostId::AbletonLive11, 48000, 512, 256, 0.0, true), 12372, 12000, 20 },
        { "Pro Tools 44.1k full, 1024 setting, +5 ms", inputs (HostId::AvidProTools, 44100, 512, 1024, 0.005), 3152, 0, 20 },
        { "Pro Tools 44.1k not full", inputs (HostId::AvidProTools, 44100, 512, 256, 0.0, false, 480), 240 + 256, 380, 20 },
        { "Logic 48k full, 512 setting, -10 ms", inputs (HostId::AppleLogic, 48000, 512, 512, -0.010), 1940, 0, 20 },
        { "Logic 48k full, no advance", inputs (HostId::AppleLogic, 48000, 512, 512, 0.0), 2420, 0, 20 },
        { "Logic 48k not full", inputs (HostId::AppleLogic, 48000, 512, 512, 0.0, false, 256), 240 + 256, 380, 20 },
        { "Cubase 44.1k full", inputs (HostId::SteinbergCubase10_5, 44100, 512, 256, 0.0), 256 + 1264, 380, 20 },
        { "Cubase 96k not full", inputs (HostId::SteinbergCubaseGeneric, 96000, 512, 512, 0.0, false, 480), 240 + 240, 760, 20 },
        { "FL Studio 44.1k 512", inputs (HostId::FruityLoops, 44100, 512, 256, 0.0), 240, (2 * 512 + 493), 34 },
        { "other host 44.1k 512, -2 ms", inputs (HostId::Reaper, 44100, 512, 256, -0.002), 752, 380 + 88, 20 },
        { "other host 192k 1024", inputs (HostId::UnknownHost, 192000, 1024, 256, 0.0), 240 + 256, 1520, 20 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto r = computeLatency (c.in);
        EXPECT_EQ (r.syncDelay, c.syncDelay);
        EXPECT_EQ (r.latencySamples, c.latency);
        EXPECT_EQ (r.reportedLatencyMs, c.reportedMs);
    }
}

TEST (LatencyModel, BadSettingsNeverProduceNonsense)
{
    for (double bad : { std::nan (""), HUGE_VAL, -HUGE_VAL })
    {
        const auto r = computeLatency (inputs (HostId::Reaper, 44100, 512, 256, bad));
        EXPECT_EQ (r.syncDelay, 240 + 512);
        EXPECT_EQ (r.latencySamples, 380);
    }

    auto in = inputs (HostId::Reaper, 44100, 512, 256, 0.0);
    in.currentSampleRate = std::nan ("");
    const auto r = computeLatency (in);
    EXPECT_GE (r.syncDelay, 0);
}

TEST (LatencyModel, RingSizes)
{
    EXPECT_EQ (computeSyncBufferSize (HostId::UnknownHost, 44100, 1, 512), 512 + 4410 + 512 + 290);
    EXPECT_EQ (computeSyncBufferSize (HostId::AvidProTools, 44100, 1, 512), 512 + 4410 + 2692 + 290);
    EXPECT_EQ (computeSyncBufferSize (HostId::SteinbergCubase9, 48000, 1, 256), 256 + 4800 + 2048 + 290);
    EXPECT_EQ (computeSyncBufferSize (HostId::AbletonLive10, 48000, 1, 512), 512 + 4800 + (12000 + 512) + 290);
    EXPECT_EQ (computeSyncBufferSize (HostId::AppleLogic, 96000, 2, 1024), 512 + 4800 + (1024 + 132) + 290);
}

TEST (LatencyModel, SettingsWithinRangeAlwaysLeaveTheDelayInsideTheRing)
{
    const int hosts[] = { HostId::UnknownHost, HostId::AbletonLive11, HostId::AppleLogic, HostId::AvidProTools,
                          HostId::SteinbergCubase10, HostId::FruityLoops, HostId::BitwigStudio };
    for (int host : hosts)
        for (double rate : { 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0 })
            for (int block : { 32, 64, 256, 512, 1024, 2048, 4096 })
                for (int setting : { 32, 256, 512, 1024, 2048 })
                    for (double latency : { -0.1, 0.0, 0.1 })
                        for (bool large : { false, true })
                        {
                            // The large-latency option is the one documented case that can
                            // exceed the ring; the encoder clamps it.
                            if (large)
                                continue;

                            auto in = inputs (host, rate, block, limitBufferSizeSetting (host, rateDividerFor (rate), setting), latency, large);
                            const int ring = computeSyncBufferSize (host, rate, in.rateDivider, block);
                            const auto r = computeLatency (in);
                            ASSERT_GE (r.syncDelay, 0);
                            ASSERT_LT (r.syncDelay, ring) << host << " " << rate << " " << block << " " << setting << " " << latency;
                        }
}

TEST (LatencyModel, BufferSizeLimits)
{
    struct Case { int host, divider, setting, expected; };
    const Case cases[] = {
        { HostId::AppleLogic, 1, 2048, 512 },        { HostId::AppleLogic, 1, 256, 256 },
        { HostId::AvidProTools, 1, 2048, 1024 },     { HostId::AvidProTools, 2, 2048, 1024 },
        { HostId::AvidProTools, 4, 2048, 2048 },     { HostId::SteinbergCubase8, 1, 512, 256 },
        { HostId::SteinbergCubase8, 2, 2048, 512 },  { HostId::SteinbergCubase8, 4, 2048, 1024 },
        { HostId::Reaper, 4, 512, 256 },             { HostId::Reaper, 1, 32, 32 },
    };
    for (const auto& c : cases)
        EXPECT_EQ (limitBufferSizeSetting (c.host, c.divider, c.setting), c.expected) << c.host << " " << c.divider;

    EXPECT_EQ (rateDividerFor (44100), 1);
    EXPECT_EQ (rateDividerFor (50000), 1);
    EXPECT_EQ (rateDividerFor (88200), 2);
    EXPECT_EQ (rateDividerFor (100000), 2);
    EXPECT_EQ (rateDividerFor (192000), 4);
}
