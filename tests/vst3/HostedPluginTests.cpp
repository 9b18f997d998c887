// The built VST3 bundle, loaded by veltro-host through JUCE's VST3 hosting:
// what the factory says, what a playhead does to the stream the daemon
// receives, state through the wrapper, the latency the host reads, and the
// process-level behaviour (held runs, a daemon in another process).
// Every run has a private /dev/shm, so the plug-in's real channel names are safe.

#include "HostRunner.h"
#include "StreamChecks.h"
#include "SettingsBytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <thread>

using namespace veltro;
using namespace veltro::testing;

namespace
{
constexpr int kUnknownHostLatency = 380; // host samples per sync sample, for a host without rules of its own

int blocksUntil (double seconds, double rate, int block)
{
    return static_cast<int> (std::ceil (seconds * rate / block - 1.0e-9));
}
} // namespace

TEST (HostedPlugin, FactoryDescribesAnInstrumentWithOneStereoOutput)
{
    const auto run = runHost ({ "--print-description" });
    ASSERT_EQ (run.exitCode, 0) << run.errors;

    const std::pair<const char*, const char*> expected[] = {
        { "description.name", "Veltro" },
        { "description.format", "VST3" },
        { "description.category", "Instrument|Synth" },
        { "description.version", "1.3.0" },
        { "description.vendor", "Veltro" },
        { "description.isInstrument", "1" },
        { "description.inputs", "0" },
        { "description.outputs", "2" },
        { "buses.inputs", "0" },
        { "buses.outputs", "1" },
        { "bus.output.0.name", "Output" },
        { "bus.output.0.channels", "2" },
        { "bus.output.0.enabled", "1" },
        { "midi.input", "1" },
        { "midi.output", "0" },
        { "layout.output.mono", "1" },
        { "layout.output.stereo", "1" },
        { "layout.output.5.1", "0" },
    };

    for (const auto& [key, value] : expected)
        EXPECT_EQ (run.value (key), value) << key;
}

TEST (HostedPlugin, PlayheadThroughTheWrapperBecomesTheStreamTheDaemonReads)
{
    // 120 bpm at 48000 Hz in 512-sample blocks; play from bar 1 for 240 blocks.
    constexpr int kBlock = 512;
    constexpr int kStartBlock = 48;
    constexpr int kStopBlock = 288;
    const auto run = runHost ({ "--standin", "--rate", "48000", "--block", "512", "--bpm", "120", "--sig", "4/4",
                                "--start-after", "0.512", "--stop-after", "3.072", "--seconds", "3.5" },
                              true);
    ASSERT_EQ (run.exitCode, 0) << run.errors;

    // Construction claimed the channel as an unknown host; the run streamed.
    EXPECT_EQ (run.integer ("claim.pluginEnabled"), 1);
    EXPECT_EQ (run.integer ("claim.instanceCounter"), 1);
    EXPECT_EQ (run.integer ("claim.hostType"), 0);
    EXPECT_EQ (run.integer ("channel.daemonState"), 3);
    EXPECT_EQ (run.integer ("channel.pluginEnabled"), 3);
    EXPECT_EQ (run.integer ("channel.sampleRateIs44100"), 0);
    EXPECT_EQ (run.integer ("channel.nominalBlockSize"), kBlock);
    EXPECT_EQ (run.integer ("standin.setUps"), 1);
    EXPECT_EQ (run.integer ("standin.giveUps"), 0);
    EXPECT_EQ (run.integer ("run.nonSilentOutputSamples"), 0) << "the plug-in makes no sound";
    // Removing the plug-in gives the channel back.
    EXPECT_EQ (run.integer ("released.pluginEnabled"), 0);

    expectOnlyPlugInCodes (run);
    const auto starts = run.eventsOf ("start");
    const auto stops = run.eventsOf ("stop");
    ASSERT_EQ (starts.size(), 1u);
    ASSERT_EQ (stops.size(), 1u);

    // Both go out with the first code of their block.
    const auto startIndex = starts[0].integer ("index");
    const auto stopIndex = stops[0].integer ("index");
    EXPECT_EQ (stopIndex - startIndex, (kStopBlock - kStartBlock) * kBlock);

    // The start carries the position of the first tick.
    const auto positions = run.eventsOf ("position");
    ASSERT_FALSE (positions.empty());
    EXPECT_EQ (positions[0].integer ("index"), startIndex + 1);
    EXPECT_EQ (positionOf (positions[0]), (Position { 0, 0, 0 }));

    for (const auto& tempo : run.eventsOf ("tempo"))
        EXPECT_EQ (tempo.number ("bpm"), 120.0);
    for (const auto& sig : run.eventsOf ("timeSignature"))
        EXPECT_EQ (sig.integer ("numerator") * 100 + sig.integer ("denominator"), 404);
    EXPECT_TRUE (ticksBetween (run, 0, startIndex).empty()) << "no ticks while stopped";

    bool tempoAfterStart = false, signatureAfterStart = false;
    for (const auto& e : run.events)
    {
        tempoAfterStart |= e.is ("tempo") && e.integer ("index") > startIndex;
        signatureAfterStart |= e.is ("timeSignature") && e.integer ("index") > startIndex;
    }
    EXPECT_TRUE (tempoAfterStart && signatureAfterStart) << "a start sends tempo and time signature again";

    // The first tick sits syncDelay samples after the start: 240 + the 512-sample block.
    const auto ticks = ticksBetween (run, startIndex, stopIndex);
    ASSERT_FALSE (ticks.empty());
    constexpr int kSyncDelay = 240 + kBlock;
    EXPECT_EQ (ticks.front().number ("time") - static_cast<double> (startIndex), kSyncDelay);
    EXPECT_EQ (positionOf (ticks.front()), (Position { 0, 0, 0 }));

    constexpr double kSamplesPerTick = 48000.0 * 60.0 / (120.0 * kTicksPerQuarter); // 31.25
    expectSteadyTicks (ticks, kSamplesPerTick, 4);

    // Every tick due before the stop went out, none after: the delay region is dropped.
    const auto expectedTicks = static_cast<size_t> (static_cast<double> (stopIndex - startIndex - kSyncDelay) / kSamplesPerTick) + 1;
    EXPECT_EQ (ticks.size(), expectedTicks);
    EXPECT_TRUE (ticksBetween (run, stopIndex, INT64_MAX).empty());
}

TEST (HostedPlugin, EncodesEachHostSetupAndTempoLimit)
{
    struct Case
    {
        const char* name;
        double rate;
        int block;
        double bpm;
        int numerator, denominator;
        int device;
        bool plays;
        int quartersPerBar;
        bool at44100;
        int announcedBlock; // in sync samples
    };

    const Case cases[] = {
        { "48000 Hz, 4/4", 48000, 512, 120, 4, 4, 0, true, 4, false, 512 },
        { "44100 Hz, 6/8", 44100, 256, 90, 6, 8, 1, true, 3, true, 256 },
        { "96000 Hz halves the rate, 7/4", 96000, 512, 140, 7, 4, 0, true, 7, false, 256 },
        { "88200 Hz is in the 44100 family, 3/4", 88200, 1024, 100, 3, 4, 0, true, 3, true, 512 },
        { "at the limit of the 250-bpm device", 48000, 512, 250, 4, 4, 2, true, 4, false, 512 },
        { "above the limit of the 250-bpm device", 48000, 512, 251, 4, 4, 2, false, 4, false, 512 },
        { "above 250 on a 400-bpm device", 48000, 512, 251, 4, 4, 0, true, 4, false, 512 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto run = runHost ({ "--standin", "--rate", std::to_string (c.rate), "--block", std::to_string (c.block),
                                    "--bpm", std::to_string (c.bpm), "--device", std::to_string (c.device),
                                    "--sig", std::to_string (c.numerator) + "/" + std::to_string (c.denominator),
                                    "--start-after", "0.25", "--stop-after", "3.5", "--seconds", "3.6" },
                                  true);
        ASSERT_EQ (run.exitCode, 0) << run.errors;
        expectOnlyPlugInCodes (run);

        EXPECT_EQ (run.integer ("channel.sampleRateIs44100"), c.at44100 ? 1 : 0);
        EXPECT_EQ (run.number ("standin.outputRate"), c.at44100 ? 44100.0 : 48000.0);
        EXPECT_EQ (run.integer ("channel.nominalBlockSize"), c.announcedBlock);

        const auto sigs = run.eventsOf ("timeSignature");
        ASSERT_FALSE (sigs.empty());
        EXPECT_EQ (sigs.back().integer ("numerator"), c.numerator);
        EXPECT_EQ (sigs.back().integer ("denominator"), c.denominator);

        const auto tempos = run.eventsOf ("tempo");
        ASSERT_FALSE (tempos.empty());
        EXPECT_EQ (tempos.back().number ("bpm"), c.bpm);

        const auto starts = run.eventsOf ("start");
        if (! c.plays)
        {
            EXPECT_TRUE (starts.empty());
            EXPECT_TRUE (run.eventsOf ("tick").empty());
            continue;
        }

        ASSERT_EQ (starts.size(), 1u);
        ASSERT_EQ (run.eventsOf ("stop").size(), 1u);
        const auto divider = c.rate > 50000 ? 2 : 1;
        const auto startIndex = starts[0].integer ("index");
        const auto stopIndex = run.eventsOf ("stop")[0].integer ("index");
        EXPECT_EQ (stopIndex - startIndex,
                   (blocksUntil (3.5, c.rate, c.block) - blocksUntil (0.25, c.rate, c.block)) * c.block / divider);

        const auto ticks = ticksBetween (run, startIndex, stopIndex);
        expectSteadyTicks (ticks, c.rate / divider * 60.0 / (c.bpm * kTicksPerQuarter), c.quartersPerBar);

        // 3.25 s of play holds at least one whole bar of each metre.
        long long lastBeat = 0;
        for (const auto& t : ticks)
            lastBeat = std::max (lastBeat, t.integer ("beat"));
        EXPECT_EQ (lastBeat, c.quartersPerBar - 1) << "a bar has as many beats as quarters";
        EXPECT_GE (positionOf (ticks.back()).bar, 1);
    }
}

TEST (HostedPlugin, FollowsATempoRamp)
{
    const auto run = runHost ({ "--standin", "--bpm", "100", "--tempo-ramp-to", "160", "--start-after", "0.5",
                                "--stop-after", "3.5", "--seconds", "3.6" },
                              true);
    ASSERT_EQ (run.exitCode, 0) << run.errors;
    expectOnlyPlugInCodes (run);
    ASSERT_EQ (run.eventsOf ("start").size(), 1u);
    ASSERT_EQ (run.eventsOf ("stop").size(), 1u);

    const auto startIndex = run.eventsOf ("start")[0].integer ("index");
    const auto stopIndex = run.eventsOf ("stop")[0].integer ("index");

    std::vector<double> tempos;
    for (const auto& t : run.eventsOf ("tempo"))
        if (t.integer ("index") > startIndex && t.integer ("index") < stopIndex)
            tempos.push_back (t.number ("bpm"));

    ASSERT_GT (tempos.size(), 100u) << "a changing tempo is sent again every block";
    EXPECT_NEAR (tempos.front(), 100.0, 0.1);
    EXPECT_NEAR (tempos.back(), 160.0, 0.5) << "the last block starts just before the end of the ramp";
    for (size_t i = 1; i < tempos.size(); ++i)
        ASSERT_GT (tempos[i], tempos[i - 1]) << "tempo " << i;

    // Ticks count on without a gap, every one of them at a spacing between
    // those of the first and the last tempo.
    const auto ticks = ticksBetween (run, startIndex, stopIndex);
    ASSERT_GT (ticks.size(), 1000u);
    const double slowest = 48000.0 * 60.0 / (100.0 * kTicksPerQuarter);
    const double fastest = 48000.0 * 60.0 / (160.0 * kTicksPerQuarter);
    int outOfRange = 0;
    std::vector<double> beatStarts;

    for (size_t i = 0; i < ticks.size(); ++i)
    {
        if (positionOf (ticks[i]).tick == 0)
            beatStarts.push_back (ticks[i].number ("time"));

        if (i == 0)
            continue;

        EXPECT_EQ (positionOf (ticks[i]), advanced (positionOf (ticks[i - 1]), 4));
        const double spacing = ticks[i].number ("time") - ticks[i - 1].number ("time");
        outOfRange += spacing > slowest + kFractionStep || spacing < fastest - 1.0 ? 1 : 0;
    }
    EXPECT_EQ (outOfRange, 0);

    // Within a block the plug-in goes on at the block's tempo, so single ticks
    // wobble at block boundaries; whole beats get shorter all the way.
    ASSERT_GT (beatStarts.size(), 5u);
    for (size_t i = 2; i < beatStarts.size(); ++i)
        EXPECT_LT (beatStarts[i] - beatStarts[i - 1], beatStarts[i - 1] - beatStarts[i - 2]) << "beat " << i;

    const double lastSpacing = ticks.back().number ("time") - ticks[ticks.size() - 2].number ("time");
    EXPECT_NEAR (ticks[1].number ("time") - ticks[0].number ("time"), slowest, 0.05);
    EXPECT_NEAR (lastSpacing, fastest, 0.05);
}

TEST (HostedPlugin, LoopingABarKeepsTheClickRunning)
{
    // One 4/4 bar at 120 bpm is two seconds: the host jumps back twice.
    const auto run = runHost ({ "--standin", "--loop-bars", "1", "--start-after", "0.512", "--seconds", "5.5" }, true);
    ASSERT_EQ (run.exitCode, 0) << run.errors;
    expectOnlyPlugInCodes (run);

    EXPECT_EQ (run.eventsOf ("start").size(), 1u);
    EXPECT_TRUE (run.eventsOf ("stop").empty());

    const auto ticks = run.eventsOf ("tick");
    expectSteadyTicks (ticks, 31.25, 4);
    EXPECT_EQ (positionOf (ticks.back()).bar, 2) << "the device's bar count goes on through the loop";
}

TEST (HostedPlugin, SettingsSurviveSaveAndRestoreThroughTheWrapper)
{
    // A 13-byte state: the last flag is missing and reads as false.
    SavedSettings cut { -0.02, 64, true, true };
    auto cutBytes = encodeSettings (cut);
    cutBytes.pop_back();

    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        SavedSettings expected;
        int latencySamples;
    };

    const Case cases[] = {
        { "kept as sent", { "--latency-ms", "-12", "--buffer-size", "128", "--large-latency", "--settings-visible" },
          { -0.012, 128, true, true }, kUnknownHostLatency + 576 },
        { "buffer size limited for this host", { "--latency-ms", "-5", "--buffer-size", "1024" },
          { -0.005, 256, false, false }, kUnknownHostLatency + 240 },
        { "cut short", { "--state-hex", toHex (cutBytes) }, { -0.02, 64, true, false }, kUnknownHostLatency + 960 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto args = c.args;
        args.push_back ("--state-roundtrip");
        const auto run = runHost (args);
        ASSERT_EQ (run.exitCode, 0) << run.errors;

        EXPECT_EQ (run.integer ("state.saved.bytes"), 14);
        EXPECT_GT (run.integer ("state.saved.hostBytes"), 14) << "the host keeps the state wrapped";

        for (const char* which : { "state.saved", "state.restored" })
        {
            SCOPED_TRACE (which);
            const std::string prefix = which;
            EXPECT_EQ (run.number (prefix + ".latencySeconds"), c.expected.latencyCompensationSeconds);
            EXPECT_EQ (run.integer (prefix + ".bufferSize"), c.expected.bufferSizeSetting);
            EXPECT_EQ (run.integer (prefix + ".largeLatency"), c.expected.usingLargeLatencyPlugins ? 1 : 0);
            EXPECT_EQ (run.integer (prefix + ".settingsVisible"), c.expected.settingsVisible ? 1 : 0);
        }

        EXPECT_EQ (run.value ("state.restored.hex"), run.value ("state.saved.hex"));

        // The latency setting acts on both instances, and the host is told.
        EXPECT_EQ (run.integer ("state.fresh.latency"), kUnknownHostLatency);
        EXPECT_EQ (run.integer ("state.sent.latency"), c.latencySamples);
        EXPECT_EQ (run.integer ("state.restored.latency"), c.latencySamples);
        EXPECT_EQ (run.integer ("state.restored.latencyChanged"), 1);
    }
}

TEST (HostedPlugin, HostReadsTheLatencyBeforeAndAfterASettingsChange)
{
    struct Case
    {
        double rate;
        int block;
        const char* latencyMs;
        int prepared;
        int afterSettings;
    };

    // 380 sync samples in host samples, plus the advance in host samples.
    const Case cases[] = {
        { 48000, 512, "-10", 380, 380 + 480 },
        { 44100, 256, "-1", 380, 380 + 44 },
        { 96000, 512, "-10", 760, 760 + 960 },
        { 192000, 1024, "-2", 1520, 1520 + 384 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (::testing::Message() << c.rate << " Hz, " << c.block << " samples, " << c.latencyMs << " ms");
        const auto run = runHost ({ "--report-latency", "--rate", std::to_string (c.rate), "--block",
                                    std::to_string (c.block), "--latency-ms", c.latencyMs });
        ASSERT_EQ (run.exitCode, 0) << run.errors;
        EXPECT_EQ (run.integer ("latency.prepared"), c.prepared);
        EXPECT_EQ (run.integer ("state.sent.latency"), c.afterSettings);
        EXPECT_EQ (run.integer ("state.sent.latencyChanged"), 1);
    }
}

TEST (HostedPlugin, HeldRunStreamsUntilTerminatedAndThenLetsGo)
{
    ScratchDir scratch;
    const auto output = scratch.file ("stdout");
    const auto events = scratch.file ("events");
    const auto pid = startHost ({ "--standin", "--hold", "--start-after", "0.2", "--events", events }, output);
    ASSERT_GT (pid, 0);

    // Held runs go at the pace of real time: wait for the stream to start.
    bool started = false;
    for (int i = 0; i < 100 && ! started; ++i)
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        for (const auto& e : readEvents (events))
            started |= e.is ("tick");
    }
    EXPECT_TRUE (started) << readFile (output);

    kill (pid, SIGTERM);
    EXPECT_EQ (waitForExit (pid, 10000), 0);

    const auto values = readValues (readFile (output));
    EXPECT_EQ (values.count ("released.pluginEnabled") ? values.at ("released.pluginEnabled") : "", "0");
    EXPECT_EQ (values.count ("stream.start") ? values.at ("stream.start") : "", "1");
}

TEST (HostedPlugin, StreamsToADaemonInAnotherProcess)
{
    struct Case
    {
        const char* name;
        bool daemonFirst;
    };

    // A plug-in that finds no daemon keeps retrying while its host processes it.
    const Case cases[] = { { "daemon running first", true }, { "daemon started later", false } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ScratchDir scratch;
        const auto events = scratch.file ("events");

        // Both paced in real time, so they keep step through the shared block.
        const auto standIn = shellQuote (standInBinary()) + " --seconds 3.5 --events " + shellQuote (events);
        const auto host = shellQuote (hostBinary()) + " " + shellQuote (pluginBundle())
                          + " --copy-bundle --realtime --start-after 1.5 --seconds 3.2 > " + shellQuote (scratch.file ("host"));
        const auto script = c.daemonFirst ? standIn + " & sleep 0.3; " + host + "; wait"
                                          : host + " & sleep 0.5; " + standIn + "; wait";
        const auto run = runIsolatedShell (script);
        ASSERT_EQ (run.exitCode, 0) << run.errors;

        HostRun daemonSide;
        daemonSide.output = run.output;
        daemonSide.values = run.values;
        daemonSide.events = readEvents (events);

        EXPECT_EQ (daemonSide.integer ("standin.setUps"), 1);
        EXPECT_EQ (daemonSide.integer ("stream.start"), 1);
        expectOnlyPlugInCodes (daemonSide);

        const auto ticks = daemonSide.eventsOf ("tick");
        ASSERT_GT (ticks.size(), 1000u);
        for (const auto& t : daemonSide.eventsOf ("tempo"))
            EXPECT_EQ (t.number ("bpm"), 120.0);
        EXPECT_EQ (positionOf (ticks.front()), (Position { 0, 0, 0 }));
    }
}
