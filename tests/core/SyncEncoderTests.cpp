#include "SyncEncoder.h"

#include "EncoderRig.h"
#include "StreamDecoder.h"
#include "SyncCodes.h"
#include "TimeData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace veltro
{
namespace
{

using Kind = SyncEvent::Kind;
using testing::EncoderRig;
using Placed = EncoderRig::PlacedEvent;

constexpr double kTickTolerance = 0.5 / 4096.0 + 1e-7; // rounding to 1/4096 sample, plus float slop

// A host that plays on at a constant tempo; tests move it around by hand.
// The position is computed from the samples played since the last change,
// not accumulated, so bar lines land exactly where the arithmetic says.
struct HostSim
{
    explicit HostSim (EncoderRig::Config c = {}) : rig (c) {}

    EncoderRig rig;
    bool playing = true;
    double bpm = 120.0;
    int numerator = 4, denominator = 4;
    bool reportsBarStart = true;
    bool reportsTimeSignature = true;
    int64_t samplePosition = 0;

    double anchorPpq = 0.0;
    int64_t samplesSinceAnchor = 0;

    double ppq() const
    {
        return anchorPpq + static_cast<double> (samplesSinceAnchor) * bpm / (60.0 * rig.syncRate() * rig.rateDivider());
    }

    void locate (double newPpq, bool jumpSamplesToo = true)
    {
        anchorPpq = newPpq;
        samplesSinceAnchor = 0;
        if (jumpSamplesToo)
            samplePosition += 1000000;
    }

    void setTempo (double newBpm)
    {
        anchorPpq = ppq();
        samplesSinceAnchor = 0;
        bpm = newBpm;
    }

    HostTimeline timeline() const
    {
        HostTimeline h;
        h.isPlaying = playing;
        h.bpm = bpm;
        h.ppq = ppq();
        h.hasBarStart = reportsBarStart;
        const double barLength = 4.0 * numerator / std::max (denominator, 1);
        h.barStartPpq = reportsBarStart ? std::floor (h.ppq / barLength) * barLength : 0.0;
        h.hasTimeSignature = reportsTimeSignature;
        h.numerator = numerator;
        h.denominator = denominator;
        h.timeInSamples = samplePosition;
        return h;
    }

    // Returns the index of the block.
    int play (int hostSamples, const std::function<void (HostTimeline&)>& tweak = {}, double syncRateFactor = 1.0)
    {
        HostTimeline h = timeline();
        if (tweak)
            tweak (h);
        if (syncRateFactor == 1.0)
            rig.process (h, hostSamples);
        else
            rig.process (h, hostSamples, rig.syncRate() * syncRateFactor);
        if (playing)
        {
            samplesSinceAnchor += hostSamples;
            samplePosition += hostSamples;
        }
        return static_cast<int> (rig.blocks().size()) - 1;
    }

    void playFor (int totalSamples, int blockSize)
    {
        for (int done = 0; done < totalSamples; done += blockSize)
            play (blockSize);
    }
};

std::vector<Placed> ofBlock (const std::vector<Placed>& events, int block, Kind kind)
{
    std::vector<Placed> out;
    for (const auto& p : events)
        if (p.origin.block == block && p.event.kind == kind)
            out.push_back (p);
    return out;
}

std::vector<Placed> ofKind (const std::vector<Placed>& events, Kind kind)
{
    std::vector<Placed> out;
    for (const auto& p : events)
        if (p.event.kind == kind)
            out.push_back (p);
    return out;
}

// Every tick carries a position, and consecutive ticks count on by exactly one
// (with qpb quarters per bar), unless `allowedBreak` says the pair may differ.
void expectTicksCountOn (const std::vector<Placed>& ticks, int qpb)
{
    for (size_t i = 1; i < ticks.size(); ++i)
    {
        ASSERT_TRUE (ticks[i].event.hasPosition) << "tick " << i;
        TimeData::PlayheadPosition p;
        p.bar = ticks[i - 1].event.position.bar & 0x3FFFFu;
        p.beat = ticks[i - 1].event.position.beat & 0xFFu;
        p.tick = static_cast<uint16_t> (ticks[i - 1].event.position.tick & 0x3FFu);
        p.advanceByOneTick (qpb);
        EXPECT_EQ (ticks[i].event.position, (StreamPosition { p.bar, p.beat, p.tick }))
            << "tick " << i << " at stream index " << ticks[i].event.index;
    }
}

void expectWellFormed (const std::vector<Placed>& events)
{
    for (const auto& p : events)
    {
        EXPECT_TRUE (p.event.kind != Kind::unknown && p.event.kind != Kind::broken)
            << toString (p.event.kind) << " code " << std::hex << p.event.code << std::dec << " at " << p.event.index;
    }
}

EncoderRig::Config config48k (int maxBlock, int delay = 300)
{
    EncoderRig::Config c;
    c.hostRate = 48000.0;
    c.maxBlockSize = maxBlock;
    c.syncDelay = delay;
    return c;
}

TEST (SyncEncoder, StartAt120BpmPlacesTicksEvery31AndAQuarterSamples)
{
    HostSim host (config48k (256));
    host.playFor (256 * 4, 256);

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);

    // Start, then the position of the first tick, at once; the block itself
    // lies syncDelay samples later.
    ASSERT_GE (events.size(), 2u);
    EXPECT_EQ (events[0].event.kind, Kind::start);
    EXPECT_EQ (events[0].event.index, 0);
    EXPECT_EQ (events[1].event.kind, Kind::position);
    EXPECT_EQ (events[1].event.index, 1);
    EXPECT_EQ (events[1].event.position, (StreamPosition { 0, 0, 0 }));

    const auto ticks = ofBlock (events, 0, Kind::tick);
    const double expectedTimes[] = { 0.0, 31.25, 62.5, 93.75, 125.0, 156.25, 187.5, 218.75, 250.0 };
    const uint16_t expectedCodes[] = { 0xA000, 0xA400, 0xA800, 0xAC00, 0xA000 };
    ASSERT_EQ (ticks.size(), std::size (expectedTimes));
    for (size_t i = 0; i < ticks.size(); ++i)
    {
        EXPECT_DOUBLE_EQ (ticks[i].localTime, expectedTimes[i]);
        EXPECT_EQ (ticks[i].event.index, 300 + static_cast<int64_t> (expectedTimes[i]));
        EXPECT_EQ (ticks[i].event.position, (StreamPosition { 0, 0, static_cast<uint32_t> (i) }));
        if (i < std::size (expectedCodes))
        {
            EXPECT_EQ (ticks[i].event.code, expectedCodes[i]);
        }
    }
    EXPECT_TRUE (ticks[0].event.positionFromWords);

    const auto tempo = ofBlock (events, 0, Kind::tempo);
    ASSERT_EQ (tempo.size(), 1u);
    EXPECT_EQ (tempo[0].event.bpm, 120.0);
    const auto signature = ofBlock (events, 0, Kind::timeSignature);
    ASSERT_EQ (signature.size(), 1u);
    EXPECT_EQ (signature[0].event.numerator, 4);
    EXPECT_EQ (signature[0].event.denominator, 4);
    EXPECT_EQ (host.rig.encoder().getDisplayTempo(), 120);

    // The next blocks carry on exactly, and neither tempo nor signature again.
    const auto allTicks = ofKind (events, Kind::tick);
    for (size_t i = 0; i < allTicks.size(); ++i)
        EXPECT_NEAR (allTicks[i].event.time, 300 + 31.25 * static_cast<double> (i), 1e-12);
    expectTicksCountOn (allTicks, 4);
    EXPECT_EQ (ofKind (events, Kind::tempo).size(), 1u);
    EXPECT_EQ (ofKind (events, Kind::timeSignature).size(), 1u);
}

TEST (SyncEncoder, StopGoesOutAtOnceAndDropsTheDelayedCodes)
{
    HostSim host (config48k (256));
    host.playFor (256 * 4, 256);
    host.playing = false;
    const int stopBlock = host.play (256);
    host.play (256);
    host.play (256);

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto& stopRecord = host.rig.blocks()[static_cast<size_t> (stopBlock)];

    const auto stops = ofKind (events, Kind::stop);
    ASSERT_EQ (stops.size(), 1u);
    EXPECT_EQ (stops[0].event.index, stopRecord.syncStart) << "no delay for the stop code";
    EXPECT_EQ (stops[0].origin.block, stopBlock);
    EXPECT_EQ (stops[0].origin.local, 0);

    // Nothing that was waiting in the delay region follows it, and tempo and
    // time signature are sent again right after it.
    std::vector<Kind> after;
    for (const auto& p : events)
        if (p.event.index >= stops[0].event.index)
            after.push_back (p.event.kind);
    // (The signature takes the first free slot, the pair the first free even pair.)
    EXPECT_EQ (after, (std::vector<Kind> { Kind::stop, Kind::timeSignature, Kind::tempo }));
    EXPECT_FALSE (host.rig.encoder().getIsPlaying());
}

TEST (SyncEncoder, HostFiveTicksAheadGetsARunOfCatchUpTicks)
{
    HostSim host (config48k (64));
    host.play (64); // ticks 0, 1, 2 at 0, 31.25, 62.5; the next one due is tick 3

    // The host now says tick 8 is due 2.3 samples into the block.
    host.locate ((8.0 - 2.3 / 31.25) / 768.0, false);
    const int block = host.play (64);
    host.playFor (64 * 8, 64); // drain the delay

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto ticks = ofBlock (events, block, Kind::tick);
    ASSERT_EQ (ticks.size(), 7u);

    // Five catch-up ticks at samples 0..4, the regular tick moved behind them,
    // then the next one at its own time again.
    const double expectedTimes[] = { 0, 1, 2, 3, 4, 5, 137421.0 / 4096.0 };
    for (size_t i = 0; i < ticks.size(); ++i)
    {
        EXPECT_DOUBLE_EQ (ticks[i].localTime, expectedTimes[i]) << i;
        EXPECT_EQ (ticks[i].event.position.tick, 3 + i) << i;
    }
    EXPECT_NEAR (ticks[6].localTime, host.rig.idealLocalTime (block, 9.0 / 768.0), kTickTolerance);
    expectTicksCountOn (ofKind (events, Kind::tick), 4);
}

TEST (SyncEncoder, PositionJumps)
{
    struct Case
    {
        const char* what;
        bool samplesJump;
        double firstTickOffset;
        bool barRestarts;
        double expectedLocalTime;
    };

    const Case cases[] = {
        { "relocation, tick near the block start", true, 1.0, true, 3.0 },
        { "relocation, tick later in the block", true, 10.5, true, 10.5 },
        { "same sample position (loop in place)", false, 1.0, false, 3.0 },
        { "relocation, tick right at the start", true, 0.0, true, 3.0 },
    };

    for (const auto& c : cases)
    {
        HostSim host (config48k (256));
        host.locate (3.9, false);
        host.playFor (256 * 12, 256); // crosses the bar line at 4.0: the bar counter is 1 now
        ASSERT_EQ (host.rig.encoder().getPosition().bar, 1u) << c.what;

        // 20 ticks further than the plug-in counts.
        const double due = std::ceil (host.ppq() * 768.0 - 1e-9);
        const double targetTick = due + 20.0;
        host.locate ((targetTick - c.firstTickOffset / 31.25) / 768.0, c.samplesJump);
        const int block = host.play (256);
        host.play (256);

        const auto events = host.rig.decodePlaced();
        expectWellFormed (events);
        const auto ticks = ofBlock (events, block, Kind::tick);
        ASSERT_FALSE (ticks.empty()) << c.what;

        EXPECT_NEAR (ticks[0].localTime, c.expectedLocalTime, kTickTolerance) << c.what;
        EXPECT_TRUE (ticks[0].event.positionFromWords) << c.what;
        const auto expectedBeat = static_cast<uint32_t> (static_cast<int> (targetTick) % 3072 / 768);
        const auto expectedTick = static_cast<uint32_t> (static_cast<int> (targetTick) % 768);
        EXPECT_EQ (ticks[0].event.position,
                   (StreamPosition { c.barRestarts ? 0u : 1u, expectedBeat, expectedTick }))
            << c.what;

        // From there on the count runs on without gaps.
        std::vector<Placed> fromJump;
        for (const auto& p : ofKind (events, Kind::tick))
            if (p.origin.block >= block)
                fromJump.push_back (p);
        expectTicksCountOn (fromJump, 4);
    }
}

TEST (SyncEncoder, HostThreeTicksBehindWaitsInsteadOfRepeating)
{
    HostSim host (config48k (256));
    host.playFor (256 * 3, 256);
    const double due = std::ceil (host.ppq() * 768.0 - 1e-9); // the next tick the plug-in will send

    host.locate (host.ppq() - 3.0 / 768.0, false);
    const int block = host.play (256);
    host.playFor (256 * 3, 256);

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto ticks = ofBlock (events, block, Kind::tick);
    ASSERT_FALSE (ticks.empty());

    // The first tick of the block is the one that was due, at the time the
    // host now gives it: three tick periods later than the host's first tick.
    EXPECT_NEAR (ticks[0].localTime, host.rig.idealLocalTime (block, due / 768.0), kTickTolerance);
    EXPECT_GT (ticks[0].localTime, 3 * 31.25 - 1.0);
    EXPECT_EQ (ticks[0].event.position.tick, static_cast<uint32_t> (due) % 768);

    expectTicksCountOn (ofKind (events, Kind::tick), 4); // nothing sent twice
}

TEST (SyncEncoder, CatchingUpOrWaitingAcrossABarLineKeepsTheBarCount)
{
    struct Case
    {
        const char* what;
        double firstBlockEndsBeforeBarLine; // in ticks; negative: after it
        double ticksMoved;                  // how far the host then moves against the plug-in's count
        uint32_t lastBar;
    };
    const Case cases[] = {
        { "host 4 ticks ahead, over the bar line", 2.5, 4.0, 1 },
        { "host 15 ticks ahead, over the bar line", 2.5, 15.0, 1 },
        { "host 4 ticks behind, back over the bar line", -1.5, -4.0, 1 },
        { "host 3 ticks behind, inside the bar", 10.5, -3.0, 1 },
    };

    for (const auto& c : cases)
    {
        HostSim host (config48k (256));
        host.locate (4.0 - c.firstBlockEndsBeforeBarLine / 768.0 - 256.0 / 24000.0, false);
        host.play (256);
        host.locate (host.ppq() + c.ticksMoved / 768.0, false);
        host.playFor (256 * 12, 256);

        const auto events = host.rig.decodePlaced();
        expectWellFormed (events);
        const auto ticks = ofKind (events, Kind::tick);
        ASSERT_GT (ticks.size(), 20u) << c.what;
        expectTicksCountOn (ticks, 4);
        EXPECT_EQ (ticks.back().event.position.bar, c.lastBar) << c.what;
    }
}

// Longest run of zero codes that the playing stream produced in its own blocks
// (the delay region of a start is silent by design).
int longestPlayingSilence (const EncoderRig& rig)
{
    int longest = 0, run = 0;
    for (size_t i = 0; i < rig.stream().size(); ++i)
    {
        const auto origin = rig.origins()[i];
        const bool playingRegion = origin.block >= 0 && origin.local >= 0
                                   && rig.blocks()[static_cast<size_t> (origin.block)].playing;
        if (playingRegion && rig.stream()[i] == 0)
            longest = std::max (longest, ++run);
        else
            run = 0;
    }
    return longest;
}

TEST (SyncEncoder, KeepSyncCodesKeepSilenceWhilePlayingShort)
{
    // Pre-roll (no ticks for a quarter note) and a slow tempo (ticks further
    // apart than the limit), for block lengths around and far from the limit.
    struct Tempo
    {
        double bpm;
        double startPpq;
    };
    const Tempo tempos[] = { { 120.0, -1.0 }, { 30.0, 0.0 } };

    for (const auto& t : tempos)
    {
        for (int blockSize : { 1, 2, 7, 64, 114, 115, 116, 117, 128, 230, 500, 4096 })
        {
            HostSim host (config48k (4096));
            host.bpm = t.bpm;
            host.locate (t.startPpq, false);
            host.playFor (60000, blockSize);

            EXPECT_LE (longestPlayingSilence (host.rig), SyncEncoder::kKeepSyncInterval)
                << "block " << blockSize << " at " << t.bpm << " bpm";
            const auto events = host.rig.decodePlaced();
            expectWellFormed (events);
            EXPECT_FALSE (ofKind (events, Kind::keepSync).empty());
        }
    }
}

TEST (SyncEncoder, DelayRegionOfAStartCarriesKeepSyncEvery4400Samples)
{
    struct Case
    {
        int delay;
        std::vector<int64_t> keepSyncAt;
    };
    const Case cases[] = { { 300, {} }, { 4400, {} }, { 4401, { 4400 } }, { 8800, { 4400 } }, { 9000, { 4400, 8800 } } };

    for (const auto& c : cases)
    {
        auto config = config48k (256, c.delay);
        config.ringSize = 12000;
        HostSim host (config);
        host.playFor (256 * 40, 256);

        std::vector<int64_t> keepSyncs;
        std::vector<Kind> kinds;
        for (const auto& p : host.rig.decodePlaced())
        {
            if (p.event.index >= c.delay)
                break;
            kinds.push_back (p.event.kind);
            if (p.event.kind == Kind::keepSync)
                keepSyncs.push_back (p.event.index);
        }
        EXPECT_EQ (keepSyncs, c.keepSyncAt) << "delay " << c.delay;
        ASSERT_GE (kinds.size(), 2u);
        EXPECT_EQ (kinds[0], Kind::start);
        EXPECT_EQ (kinds[1], Kind::position);
        EXPECT_EQ (kinds.size(), 2 + c.keepSyncAt.size());
    }
}

TEST (SyncEncoder, TempoAndTimeSignatureWaitForAFreeSlot)
{
    HostSim host (config48k (256));
    host.playFor (256 * 2, 256);

    // Stopping with two-sample blocks: the stop code takes slot 0, so the pair
    // cannot go in that block; the time signature takes slot 1.
    host.playing = false;
    const int stopBlock = host.play (2);
    const int nextBlock = host.play (2);
    host.play (2);

    // While stopped in one-sample blocks, a new signature goes at once but a
    // tempo pair never fits; the first two-sample block carries it, once.
    host.setTempo (100.0);
    host.numerator = 3;
    const int firstSingle = host.play (1);
    for (int i = 0; i < 20; ++i)
        host.play (1);
    const int pairBlock = host.play (2);
    host.play (2);

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);

    EXPECT_EQ (ofBlock (events, stopBlock, Kind::stop).size(), 1u);
    EXPECT_TRUE (ofBlock (events, stopBlock, Kind::tempo).empty());
    EXPECT_EQ (ofBlock (events, stopBlock, Kind::timeSignature).size(), 1u);
    ASSERT_EQ (ofBlock (events, nextBlock, Kind::tempo).size(), 1u);
    EXPECT_EQ (ofBlock (events, nextBlock, Kind::tempo)[0].event.bpm, 120.0);

    const auto signatures = ofBlock (events, firstSingle, Kind::timeSignature);
    ASSERT_EQ (signatures.size(), 1u);
    EXPECT_EQ (signatures[0].event.numerator, 3);

    const auto tempos = ofKind (events, Kind::tempo);
    ASSERT_EQ (tempos.size(), 3u); // start, after the stop, and 100 once
    EXPECT_EQ (tempos.back().origin.block, pairBlock);
    EXPECT_EQ (tempos.back().event.bpm, 100.0);
}

TEST (SyncEncoder, TempoAndSignatureCodesAsWritten)
{
    struct Case
    {
        double bpm;
        int numerator, denominator;
        std::vector<uint16_t> expected; // the block's non-zero codes, in order
    };

    const std::vector<Case> cases = {
        { 120.0, 6, 8, { 0x7878, 0x7000, 0x6064 } },
        { 120.0, 7, 4, { 0x7878, 0x7000, 0x6072 } },
        { 2047.99, 4, 4, { 0x7FFF, 0x77EC, 0x6042 } },
        { 2048.0, 4, 4, { 0x6042 } }, // not encodable: no pair
        { -1.0, 4, 4, { 0x6042 } },
        { 120.0, 3, 0, { 0x7878, 0x7000, 0x6042 } }, // a denominator of 0: 4/4 is counted and sent
    };

    for (const auto& c : cases)
    {
        HostSim host (config48k (256));
        host.playing = false;
        host.bpm = c.bpm;
        host.numerator = c.numerator;
        host.denominator = c.denominator;
        host.play (16);
        host.play (16); // nothing is repeated, not even a tempo that could not be sent

        std::vector<uint16_t> written;
        for (uint16_t code : host.rig.stream())
            if (code != 0)
                written.push_back (code);
        EXPECT_EQ (written, c.expected) << c.bpm << " " << c.numerator << "/" << c.denominator;
    }
}

TEST (SyncEncoder, PreRollStartsTheCountAtTheSongStart)
{
    HostSim host (config48k (256));
    host.locate (-0.25, false);
    host.playFor (256 * 40, 256);

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto ticks = ofKind (events, Kind::tick);
    ASSERT_FALSE (ticks.empty());
    EXPECT_DOUBLE_EQ (ticks[0].event.time, 300 + 0.25 * 24000);
    EXPECT_EQ (ticks[0].event.position, (StreamPosition { 0, 0, 0 }));
    EXPECT_TRUE (ticks[0].event.positionFromWords);
    expectTicksCountOn (ticks, 4);
}

TEST (SyncEncoder, OneSampleBlocksNeverCarryATempoPair)
{
    HostSim host (config48k (256));
    host.playFor (24000, 1);

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    EXPECT_TRUE (ofKind (events, Kind::tempo).empty());
    EXPECT_EQ (ofKind (events, Kind::timeSignature).size(), 1u);
    // A quarter note's worth, less what is still in the delay when the run ends.
    const auto ticks = ofKind (events, Kind::tick);
    EXPECT_EQ (ticks.size(), static_cast<size_t> ((24000 - 300) / 31.25) + 1);
    expectTicksCountOn (ticks, 4);
}

TEST (SyncEncoder, TempoRangeDecidesBetweenPlayingAndStopped)
{
    struct Case
    {
        double maxTempo, bpm;
        bool plays;
    };
    const Case cases[] = { { 400.0, 250.0, true }, { 250.0, 250.0, true }, { 250.0, 251.0, false },
                           { 400.0, 400.0, true }, { 400.0, 400.5, false }, { 250.0, 30.0, true },
                           { 250.0, 29.99, false } };

    for (const auto& c : cases)
    {
        auto config = config48k (256);
        config.maxTempo = c.maxTempo;
        HostSim host (config);
        host.playFor (256 * 4, 256);
        host.setTempo (c.bpm);
        host.playFor (256 * 4, 256);

        const auto events = host.rig.decodePlaced();
        expectWellFormed (events);
        EXPECT_EQ (host.rig.encoder().getIsPlaying(), c.plays) << c.bpm << " with limit " << c.maxTempo;
        EXPECT_EQ (ofKind (events, Kind::stop).size(), c.plays ? 0u : 1u) << c.bpm;

        // The tempo goes out either way; the display only follows accepted tempi.
        const auto tempos = ofKind (events, Kind::tempo);
        ASSERT_FALSE (tempos.empty());
        EXPECT_NEAR (tempos.back().event.bpm, c.bpm, 1.0 / 2048.0);
        EXPECT_EQ (host.rig.encoder().getDisplayTempo(), c.plays ? static_cast<int> (std::lround (c.bpm)) : 120);
    }
}

// Host-relative beat and tick of the tick at `tickIndex` (ticks from ppq 0),
// with the device's rule that a beat beyond the bar's quarters counts as 0.
StreamPosition hostBeatAndTick (int64_t tickIndex, int numerator, int denominator)
{
    const int64_t barTicks = 768 * 4 * numerator / denominator;
    const int64_t inBar = tickIndex % barTicks;
    const auto b = static_cast<uint32_t> (inBar / 768);
    const auto qpb = static_cast<uint32_t> (TimeData::quartersPerBar (numerator, denominator));
    return { 0, b >= qpb ? 0u : b, static_cast<uint32_t> (inBar % 768) };
}

// Every tick, from the host's tick `firstTick` on (ticks from ppq 0), carries
// the host's beat and tick and arrives on time: 120 BPM at 48 kHz puts them
// 31.25 samples apart, the first one 300 samples (the delay) into the stream.
// Stops at the first tick that is wrong.
void expectTicksFollowTheHost (const std::vector<Placed>& ticks, int64_t firstTick, int numerator, int denominator)
{
    for (size_t i = 0; i < ticks.size() && ! ::testing::Test::HasFailure(); ++i)
    {
        const auto expected = hostBeatAndTick (firstTick + static_cast<int64_t> (i), numerator, denominator);
        EXPECT_EQ (ticks[i].event.position.beat, expected.beat) << i;
        EXPECT_EQ (ticks[i].event.position.tick, expected.tick) << i;
        EXPECT_NEAR (ticks[i].event.time, 300 + 31.25 * static_cast<double> (i), kTickTolerance) << i;
    }
}

TEST (SyncEncoder, SixEightCountsThreeBeatsPerBar)
{
    HostSim host (config48k (512));
    host.numerator = 6;
    host.denominator = 8;
    host.playFor (72000 * 5 / 2, 512); // two and a half bars of three quarters

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto ticks = ofKind (events, Kind::tick);
    ASSERT_GT (ticks.size(), 2u * 2304u);
    for (size_t i = 0; i < ticks.size(); ++i)
    {
        const auto expected = hostBeatAndTick (static_cast<int64_t> (i), 6, 8);
        EXPECT_EQ (ticks[i].event.position.beat, expected.beat) << i;
        EXPECT_EQ (ticks[i].event.position.tick, expected.tick) << i;
        EXPECT_EQ (ticks[i].event.position.bar, i / 2304) << i;
        EXPECT_NEAR (ticks[i].event.time, 300 + 31.25 * static_cast<double> (i), kTickTolerance) << i;
    }
    expectTicksCountOn (ticks, 3);
}

TEST (SyncEncoder, SevenEightCountsTheLastHalfQuarterAsBeatZero)
{
    // Blocks of 400 samples put every bar line (3.5 quarters = 84000 samples)
    // on a block start.
    HostSim host (config48k (512));
    host.numerator = 7;
    host.denominator = 8;
    host.playFor (84000 * 5 / 2, 400);

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto ticks = ofKind (events, Kind::tick);
    ASSERT_GT (ticks.size(), 2u * 2688u);

    for (size_t i = 0; i < ticks.size(); ++i)
    {
        const auto expected = hostBeatAndTick (static_cast<int64_t> (i), 7, 8);
        EXPECT_EQ (ticks[i].event.position.beat, expected.beat) << i;
        EXPECT_EQ (ticks[i].event.position.tick, expected.tick) << i;

        // Counting wraps after three quarters, so the bar counter moves on in
        // the middle of the host's last quarter; at the host's bar line the
        // count jumps back to beat 0, tick 0 without another bar, and that
        // tick, due at the block start, goes to sample 3 behind its words.
        const size_t inBar = i % 2688;
        const size_t bar = i / 2688;
        EXPECT_EQ (ticks[i].event.position.bar, bar + (inBar >= 2304 ? 1 : 0)) << i;
        const double ideal = 300 + 31.25 * static_cast<double> (i);
        if (inBar == 0 && bar > 0)
        {
            EXPECT_DOUBLE_EQ (ticks[i].event.time, ideal + 3.0) << i;
            EXPECT_TRUE (ticks[i].event.positionFromWords);
        }
        else
        {
            EXPECT_NEAR (ticks[i].event.time, ideal, kTickTolerance) << i;
        }
    }
}

TEST (SyncEncoder, BarStartIsDerivedForAHostThatNeverReportsOne)
{
    // 3/4 from the song start; the host starts at ppq 7 (second beat of the
    // third bar) and never says where bars start.
    HostSim host (config48k (512));
    host.numerator = 3;
    host.reportsBarStart = false;
    host.locate (7.0, false);
    host.playFor (24000 * 5, 512);

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto ticks = ofKind (events, Kind::tick);
    ASSERT_GT (ticks.size(), 768u * 4);
    expectTicksFollowTheHost (ticks, 7 * 768, 3, 4);
    expectTicksCountOn (ticks, 3);
}

TEST (SyncEncoder, BarStartThatCannotBeRightIsIgnored)
{
    // A host that reports the start of the NEXT bar, counted in 4/4 whatever
    // the meter (seen in a real DAW): taken at its word, no tick would ever
    // fall inside a block. Here in 3/4 from ppq 0.
    HostSim host (config48k (1024));
    host.numerator = 3;
    host.locate (0.0, false);
    for (int done = 0; done < 24000 * 5; done += 1024)
        host.play (1024, [] (HostTimeline& h) { h.barStartPpq = std::floor (h.ppq / 4.0) * 4.0 + 4.0; });

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto ticks = ofKind (events, Kind::tick);
    ASSERT_GT (ticks.size(), 768u * 4);
    expectTicksFollowTheHost (ticks, 0, 3, 4);
    expectTicksCountOn (ticks, 3);
}

TEST (SyncEncoder, HostThatReportedABarStartKeepsItWhenItSkipsOne)
{
    // An odd bar earlier in the song: bars start at 4.5, 8.5, ... here, which
    // no grid from the song start would give.
    HostSim host (config48k (512));
    host.locate (5.0, false);
    host.play (512, [] (HostTimeline& h) { h.barStartPpq = 4.5; });
    for (int i = 0; i < 20; ++i)
        host.play (512, [] (HostTimeline& h) { h.hasBarStart = false; });

    const auto events = host.rig.decodePlaced();
    expectWellFormed (events);
    const auto ticks = ofKind (events, Kind::tick);
    ASSERT_GT (ticks.size(), 300u);
    for (size_t i = 0; i < ticks.size(); ++i)
    {
        EXPECT_EQ (ticks[i].event.position.beat, 0u) << i;
        EXPECT_EQ (ticks[i].event.position.tick, 384 + i) << i;
        EXPECT_NEAR (ticks[i].event.time, 300 + 31.25 * static_cast<double> (i), kTickTolerance) << i;
    }
}

TEST (SyncEncoder, BadHostValuesNeverBreakTheStream)
{
    const double nan = std::nan ("");
    const double inf = std::numeric_limits<double>::infinity();

    struct Case
    {
        const char* what;
        std::function<void (HostTimeline&)> tweak;
        double syncRateFactor; // applied to the sync sample rate of the bad blocks
        bool stops;            // the stream stops (and restarts afterwards)
    };

    const Case cases[] = {
        { "tempo NaN", [=] (HostTimeline& h) { h.bpm = nan; }, 1.0, true },
        { "tempo infinite", [=] (HostTimeline& h) { h.bpm = inf; }, 1.0, true },
        { "tempo negative", [] (HostTimeline& h) { h.bpm = -120.0; }, 1.0, true },
        { "tempo zero", [] (HostTimeline& h) { h.bpm = 0.0; }, 1.0, true },
        { "ppq NaN", [=] (HostTimeline& h) { h.ppq = nan; }, 1.0, false },
        { "ppq infinite", [=] (HostTimeline& h) { h.ppq = inf; }, 1.0, false },
        { "ppq absurd", [] (HostTimeline& h) { h.ppq = 1e300; }, 1.0, false },
        { "ppq far negative", [] (HostTimeline& h) { h.ppq = -1e300; }, 1.0, false },
        { "bar start NaN", [=] (HostTimeline& h) { h.barStartPpq = nan; }, 1.0, false },
        { "bar start infinite", [=] (HostTimeline& h) { h.barStartPpq = -inf; }, 1.0, false },
        { "bar start far ahead", [] (HostTimeline& h) { h.barStartPpq = 1e9; }, 1.0, false },
        { "bar start far behind", [] (HostTimeline& h) { h.barStartPpq = -1e300; }, 1.0, false },
        { "denominator 0", [] (HostTimeline& h) { h.denominator = 0; }, 1.0, false },
        { "numerator 0", [] (HostTimeline& h) { h.numerator = 0; }, 1.0, false },
        { "negative signature", [] (HostTimeline& h) { h.numerator = -7; h.denominator = -8; }, 1.0, false },
        { "huge numerator", [] (HostTimeline& h) { h.numerator = INT_MAX; h.denominator = 1; }, 1.0, false },
        { "sample position min", [] (HostTimeline& h) { h.timeInSamples = std::numeric_limits<int64_t>::min(); }, 1.0, false },
        { "sample position max", [] (HostTimeline& h) { h.timeInSamples = std::numeric_limits<int64_t>::max(); }, 1.0, false },
        { "sample rate 0", {}, 0.0, true },
        { "sample rate NaN", {}, nan, true },
        { "sample rate negative", {}, -1.0, true },
        { "sample rate tiny", {}, 1e-300, true },
        { "sample rate infinite", {}, inf, true },
        { "sample rate huge", {}, 1e300, false },
    };

    for (const auto& c : cases)
    {
        HostSim host (config48k (256));
        host.playFor (256 * 10, 256);

        for (int i = 0; i < 3; ++i)
            host.play (256, c.tweak, c.syncRateFactor);
        EXPECT_EQ (host.rig.encoder().getIsPlaying(), ! c.stops) << c.what;

        const int firstAfter = host.play (256);
        host.playFor (256 * 30, 256);

        const auto events = host.rig.decodePlaced();
        expectWellFormed (events);

        // Well after the bad blocks the ticks are where the host says again.
        int checked = 0;
        for (const auto& p : ofKind (events, Kind::tick))
        {
            if (p.origin.block < firstAfter + 4)
                continue;
            const auto& rec = host.rig.blocks()[static_cast<size_t> (p.origin.block)];
            const double ideal = std::ceil (rec.host.ppq * 768.0 - 1e-9);
            const double offset = host.rig.idealLocalTime (p.origin.block, ideal / 768.0);
            const double periods = (p.localTime - offset) / 31.25;
            EXPECT_NEAR (periods, std::round (periods), kTickTolerance) << c.what;
            ++checked;
        }
        EXPECT_GT (checked, 100) << c.what;
    }
}

TEST (SyncEncoder, RingLimitsAndBlocksOutsideTheRing)
{
    SyncEncoder enc;
    EXPECT_FALSE (enc.allocate (0));
    EXPECT_FALSE (enc.allocate (-5));
    EXPECT_FALSE (enc.hasRing());
    enc.setSyncDelay (100);
    EXPECT_EQ (enc.getSyncDelay(), 0);
    EXPECT_EQ (enc.takeNextCode(), 0);

    HostTimeline h;
    h.isPlaying = true;
    enc.generateBlock (h, 64, 48000.0); // no ring: nothing to do
    enc.advanceWriteIndex (64);

    ASSERT_TRUE (enc.allocate (1000));
    for (const auto& [delay, expected] : { std::pair { -5, 0 }, { 0, 0 }, { 999, 999 }, { 1000, 999 }, { INT_MAX, 999 } })
    {
        enc.setSyncDelay (delay);
        EXPECT_EQ (enc.getSyncDelay(), expected) << delay;
    }

    // Blocks of no samples or longer than the ring are refused.
    for (int n : { 0, -1, 1001, INT_MAX, INT_MIN })
    {
        enc.generateBlock (h, n, 48000.0);
        EXPECT_FALSE (enc.getIsPlaying()) << n;
        EXPECT_TRUE (std::all_of (enc.getRing(), enc.getRing() + 1000, [] (uint16_t c) { return c == 0; })) << n;
    }

    // The longest delay still starts inside the ring; a block of the whole
    // ring wraps over the start codes but stays inside.
    enc.generateBlock (h, 1000, 48000.0);
    EXPECT_TRUE (enc.getIsPlaying());
    EXPECT_EQ (enc.getWriteIndex(), 999);
    enc.advanceWriteIndex (1000);
    EXPECT_EQ (enc.getWriteIndex(), 999);
    for (int i = 0; i < 1500; ++i)
        enc.takeNextCode();
    EXPECT_EQ (enc.getReadIndex(), 500);

    // Taking codes in one piece gives what taking them one by one gives,
    // across the wrap and for more than a ring's worth.
    for (int count : { 1, 7, 499, 500, 501, 1000, 2345 })
    {
        std::vector<uint16_t> one (static_cast<size_t> (count)), piece (static_cast<size_t> (count));
        const int before = enc.getReadIndex();
        for (auto& c : one)
            c = enc.takeNextCode();
        const int after = enc.getReadIndex();
        for (int i = 0; i < (1000 - count % 1000) % 1000; ++i) // round the ring back to where we were
            enc.takeNextCode();
        ASSERT_EQ (enc.getReadIndex(), before);
        enc.takeCodes (piece.data(), count);
        EXPECT_EQ (piece, one) << count;
        EXPECT_EQ (enc.getReadIndex(), after) << count;
    }

    // A new preparation keeps the playing state but starts the ring over.
    enc.resetForPrepare();
    EXPECT_TRUE (enc.getIsPlaying());
    EXPECT_EQ (enc.getWriteIndex(), 0);
    EXPECT_EQ (enc.getReadIndex(), 0);
}

} // namespace
} // namespace veltro
