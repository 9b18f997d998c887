// The host's own arithmetic, which the VST3 tests rely on: the scripted
// transport, the settings bytes it sends and reads back, its command line.

#include "HostOptions.h"
#include "SettingsBytes.h"
#include "TransportScript.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace veltro;

TEST (TransportScript, PositionIsTheIntegralOfTheTempo)
{
    struct Case
    {
        const char* name;
        double bpm;
        std::optional<double> rampTo;
        double rampSeconds;
    };

    const Case cases[] = {
        { "steady", 120.0, std::nullopt, 0.0 },
        { "rising", 120.0, 180.0, 4.0 },
        { "falling, then steady", 140.0, 70.0, 2.0 },
    };

    constexpr double kRate = 48000.0;
    constexpr int kStep = 48; // integrate in 1 ms steps over 5 s

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TransportSettings s;
        s.sampleRate = kRate;
        s.bpm = c.bpm;
        s.rampToBpm = c.rampTo;
        s.rampSeconds = c.rampSeconds;
        s.startPpq = 2.0;
        ASSERT_EQ (s.validate(), "");
        const TransportScript script (s);

        double quarters = s.startPpq;
        for (int64_t sample = 0; sample < 5 * 48000; sample += kStep)
        {
            // Midpoint rule: exact for a tempo that is linear within the step.
            const double midTempo = 0.5 * (script.frameAt (sample).bpm + script.frameAt (sample + kStep).bpm);
            quarters += midTempo / 60.0 * kStep / kRate;
        }

        const auto end = script.frameAt (5 * 48000);
        EXPECT_NEAR (end.ppq, quarters, 1.0e-9);
        EXPECT_DOUBLE_EQ (end.bpm, c.rampTo.value_or (c.bpm));
    }
}

TEST (TransportScript, WaitsPlaysAndStopsWhereItWasTold)
{
    TransportSettings s;
    s.startAfterSeconds = 0.5;
    s.stopAfterSeconds = 1.5;
    s.startPpq = 8.0;
    const TransportScript script (s);

    const auto before = script.frameAt (23999);
    const auto atStart = script.frameAt (24000);
    const auto playing = script.frameAt (48000);
    const auto atStop = script.frameAt (72000);
    const auto later = script.frameAt (96000);

    EXPECT_FALSE (before.playing);
    EXPECT_EQ (before.ppq, 8.0);
    EXPECT_TRUE (atStart.playing);
    EXPECT_EQ (atStart.ppq, 8.0);
    EXPECT_EQ (atStart.timeInSamples, before.timeInSamples) << "the timeline stands still while stopped";
    EXPECT_TRUE (playing.playing);
    EXPECT_DOUBLE_EQ (playing.ppq, 9.0); // 0.5 s at 120 bpm
    EXPECT_EQ (playing.timeInSamples - atStart.timeInSamples, 24000);
    EXPECT_FALSE (atStop.playing);
    EXPECT_DOUBLE_EQ (atStop.ppq, 10.0);
    EXPECT_EQ (later.ppq, atStop.ppq);
    EXPECT_EQ (later.timeInSamples, atStop.timeInSamples);
}

TEST (TransportScript, LoopJumpsBackInPositionAndTimeline)
{
    TransportSettings s;
    s.loopBars = 1; // 4 quarters: 2 s at 120 bpm
    const TransportScript script (s);

    const auto justBefore = script.frameAt (95999);
    const auto afterJump = script.frameAt (96000 + 480);

    EXPECT_NEAR (justBefore.ppq, 4.0, 1.0e-4);
    EXPECT_EQ (justBefore.loopPass, 0);
    EXPECT_NEAR (afterJump.ppq, 0.02, 1.0e-12);
    EXPECT_EQ (afterJump.timeInSamples, 480);
    EXPECT_EQ (afterJump.loopPass, 1);
}

TEST (TransportScript, BarStartFollowsTheTimeSignature)
{
    struct Case
    {
        int numerator, denominator;
        double startPpq, barStart;
    };

    const Case cases[] = {
        { 4, 4, 5.5, 4.0 },
        { 6, 8, 5.5, 3.0 },
        { 7, 8, 5.5, 3.5 },
        { 3, 4, 6.0, 6.0 },
        { 4, 4, -1.0, -4.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (::testing::Message() << c.numerator << '/' << c.denominator << " at " << c.startPpq);
        TransportSettings s;
        s.numerator = c.numerator;
        s.denominator = c.denominator;
        s.startPpq = c.startPpq;
        EXPECT_DOUBLE_EQ (TransportScript (s).frameAt (0).barStartPpq, c.barStart);
    }
}

TEST (SettingsBytes, MatchTheSavedStateLayout)
{
    SavedSettings s;
    s.latencyCompensationSeconds = -0.012;
    s.bufferSizeSetting = 512;
    s.usingLargeLatencyPlugins = true;
    s.settingsVisible = true;

    const auto bytes = encodeSettings (s);
    ASSERT_EQ (bytes.size(), 14u);

    const double latency = -0.012;
    uint64_t bits = 0;
    std::memcpy (&bits, &latency, sizeof bits);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ (bytes[static_cast<size_t> (i)], (bits >> (8 * i)) & 0xFF) << "byte " << i;

    EXPECT_EQ (std::vector<uint8_t> (bytes.begin() + 8, bytes.end()), (std::vector<uint8_t> { 0x00, 0x02, 0x00, 0x00, 0x01, 0x01 }));

    const auto back = decodeSettings (bytes);
    ASSERT_TRUE (back.has_value());
    EXPECT_EQ (back->latencyCompensationSeconds, -0.012);
    EXPECT_EQ (back->bufferSizeSetting, 512);
    EXPECT_TRUE (back->usingLargeLatencyPlugins);
    EXPECT_TRUE (back->settingsVisible);

    EXPECT_FALSE (decodeSettings (std::vector<uint8_t> (bytes.begin(), bytes.end() - 1)).has_value());
    EXPECT_EQ (fromHex (toHex (bytes)), bytes);
}

TEST (HostOptions, RejectsCommandLinesThatCannotRun)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        { "a.vst3", "b.vst3" },
        { "a.vst3", "--bpm" },
        { "a.vst3", "--bpm", "fast" },
        { "a.vst3", "--sig", "4" },
        { "a.vst3", "--block", "0" },
        { "a.vst3", "--start-after", "2", "--stop-after", "1" },
        { "a.vst3", "--loop-bars", "2", "--tempo-ramp-to", "140" },
        { "a.vst3", "--latency-ms", "3", "--state-hex", "00" },
        { "a.vst3", "--state-hex", "0g" },
        { "a.vst3", "--frobnicate" },
    };

    for (const auto& args : bad)
    {
        std::string line;
        for (const auto& a : args)
            line += a + ' ';
        EXPECT_NE (parseHostOptions (args).error, "") << line;
    }
}

TEST (HostOptions, RampSpansThePlayingTimeUnlessToldOtherwise)
{
    auto parsed = parseHostOptions ({ "a.vst3", "--seconds", "6", "--start-after", "1", "--tempo-ramp-to", "150" });
    ASSERT_EQ (parsed.error, "");
    EXPECT_DOUBLE_EQ (parsed.options.transport.rampSeconds, 5.0);

    parsed = parseHostOptions ({ "a.vst3", "--start-after", "1", "--stop-after", "3", "--tempo-ramp-to", "150" });
    EXPECT_DOUBLE_EQ (parsed.options.transport.rampSeconds, 2.0);

    parsed = parseHostOptions ({ "a.vst3", "--tempo-ramp-to", "150", "--ramp-seconds", "0.5" });
    EXPECT_DOUBLE_EQ (parsed.options.transport.rampSeconds, 0.5);
}

TEST (HostOptions, IndividualSettingsBecomeTheStateToSend)
{
    const auto parsed = parseHostOptions ({ "a.vst3", "--latency-ms", "-12", "--buffer-size", "128", "--settings-visible" });
    ASSERT_EQ (parsed.error, "");
    ASSERT_TRUE (parsed.options.stateBytes.has_value());

    const auto s = decodeSettings (*parsed.options.stateBytes);
    ASSERT_TRUE (s.has_value());
    EXPECT_DOUBLE_EQ (s->latencyCompensationSeconds, -0.012);
    EXPECT_EQ (s->bufferSizeSetting, 128);
    EXPECT_FALSE (s->usingLargeLatencyPlugins);
    EXPECT_TRUE (s->settingsVisible);
}
