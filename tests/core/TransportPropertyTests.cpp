// Long scripted transports through the generator, checked against the host's
// own timeline: every tick must sit where the host's position and tempo for
// its block put it (to the 1/4096-sample rounding), come in order with none
// lost or repeated, and carry the host's beat and tick; the stream must stay
// well-formed and never fall silent for long while playing. The only
// departures allowed are the ones the generator makes on purpose: catch-up
// runs, ticks moved behind position words after a jump, ticks dropped when a
// block is too short for its catch-up run, and re-synchronisation after a
// start or a relocation.

#include "EncoderRig.h"
#include "ScriptedTransport.h"
#include "StreamDecoder.h"
#include "TimeData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace veltro
{
namespace
{

using Kind = SyncEvent::Kind;
using testing::EncoderRig;
using testing::ScriptedTransport;
using Placed = EncoderRig::PlacedEvent;

constexpr double kTolerance = 0.5 / 4096.0 + 1e-6;

struct Scenario
{
    const char* name;
    ScriptedTransport::Settings settings;
    double seconds;
    int syncDelay = 400;
    double maxTempo = 250.0;
    std::function<void (ScriptedTransport&)> script = {};
};

// What the test knows about each block from the script.
struct BlockFacts
{
    bool relocated = false;   // the host jumped before this block
    bool oddBarLine = false;  // a bar line of a bar that is not whole quarters passed: the count jumps there
};

struct AuditTotals
{
    int ticks = 0, catchUps = 0, moved = 0, lost = 0, resyncs = 0, starts = 0, stops = 0;
    double worstCatchUpLateness = 0.0; // in blocks without a jump
};

class TransportAudit
{
public:
    TransportAudit (const Scenario& s, const EncoderRig& r, const ScriptedTransport& t, const std::vector<BlockFacts>& f)
        : scenario (s), rig (r), transport (t), facts (f)
    {
    }

    AuditTotals run()
    {
        const auto placed = rig.decodePlaced();
        checkWellFormed (placed);
        checkSilence();

        std::vector<std::vector<Placed>> ticksByBlock (rig.blocks().size());
        for (const auto& p : placed)
        {
            if (p.event.kind == Kind::start)
                ++totals.starts;
            if (p.event.kind == Kind::stop)
                ++totals.stops;
            if (p.event.kind != Kind::tick)
                continue;
            if (p.origin.block < 0 || p.origin.local < 0)
            {
                fail ("tick outside any block's own samples at stream index " + std::to_string (p.event.index));
                continue;
            }
            ticksByBlock[static_cast<size_t> (p.origin.block)].push_back (p);
        }

        int started = 0, stopped = 0;
        for (const auto& b : rig.blocks())
        {
            started += b.started ? 1 : 0;
            stopped += b.stopped ? 1 : 0;
        }
        // Codes of the last blocks may still wait in the delay; a start goes out at once.
        EXPECT_EQ (totals.starts, started) << scenario.name;
        EXPECT_EQ (totals.stops, stopped) << scenario.name;

        // Blocks whose codes did not all come out (still in the delay when the
        // run ended, or dropped by a stop) are left out.
        std::vector<int> emitted (rig.blocks().size(), 0);
        for (const auto& origin : rig.origins())
            if (origin.block >= 0 && origin.local >= 0)
                ++emitted[static_cast<size_t> (origin.block)];

        for (size_t k = 0; k < rig.blocks().size() && failures < kMaxReported; ++k)
        {
            const auto& rec = rig.blocks()[k];
            if (rec.playing && emitted[k] < rec.n)
            {
                lastTick.reset();
                lastBar.reset();
                continue;
            }
            auditBlock (static_cast<int> (k), ticksByBlock[k]);
        }

        return totals;
    }

private:
    static constexpr int kMaxReported = 10;

    const Scenario& scenario;
    const EncoderRig& rig;
    const ScriptedTransport& transport;
    const std::vector<BlockFacts>& facts;

    AuditTotals totals;
    int failures = 0;
    std::optional<int64_t> lastTick; // ticks from ppq 0 of the last tick sent
    std::optional<uint32_t> lastBar;

    void fail (const std::string& what)
    {
        ++failures;
        ADD_FAILURE() << scenario.name << ": " << what;
    }

    void checkWellFormed (const std::vector<Placed>& placed)
    {
        for (const auto& p : placed)
            if (p.event.kind == Kind::unknown || p.event.kind == Kind::broken)
            {
                fail (std::string (toString (p.event.kind)) + " code at stream index " + std::to_string (p.event.index));
                return;
            }
    }

    // While playing, never more than 115 zero codes in a row in the blocks'
    // own samples (the delay region in front of a start is silent by design).
    void checkSilence()
    {
        int run = 0;
        for (size_t i = 0; i < rig.stream().size(); ++i)
        {
            const auto origin = rig.origins()[i];
            const bool playingRegion = origin.block >= 0 && origin.local >= 0
                                       && rig.blocks()[static_cast<size_t> (origin.block)].playing;
            run = (playingRegion && rig.stream()[i] == 0) ? run + 1 : 0;
            if (run > SyncEncoder::kKeepSyncInterval)
            {
                fail ("more than 115 zero codes in a row while playing, at stream index " + std::to_string (i));
                return;
            }
        }
    }

    void auditBlock (int k, const std::vector<Placed>& ticks)
    {
        const auto& rec = rig.blocks()[static_cast<size_t> (k)];
        const auto& fact = facts[static_cast<size_t> (k)];

        // A block of no sync samples (a few host samples at a divider) is not generated at all.
        if (rec.n == 0)
            return;

        if (! rec.playing)
        {
            if (! ticks.empty())
                fail ("ticks in a stopped block " + std::to_string (k));
            lastTick.reset();
            lastBar.reset();
            return;
        }

        const bool resync = rec.started || fact.relocated;
        if (resync)
        {
            lastTick.reset();
            ++totals.resyncs;
        }
        const bool jumpAllowed = resync || fact.oddBarLine;
        const double spq = rec.samplesPerQuarter;
        const double ppq = rec.host.ppq;
        const int n = rec.n;
        auto ideal = [&] (int64_t g) { return (static_cast<double> (g) / 768.0 - ppq) * spq; };
        auto regular = [&] (int64_t g, double x) { return std::fabs (x - ideal (g)) <= kTolerance; };

        const int64_t firstDue = std::max<int64_t> (0, static_cast<int64_t> (std::ceil (ppq * 768.0 - 1e-6)));
        const int fullRun = std::max (0, n - 4);
        int runTicks = 0;
        bool sawUnidentified = false;

        for (const auto& t : ticks)
        {
            const double x = t.localTime;
            const int local = t.origin.local;
            const bool catchUpShape = t.event.fraction == 0 && local <= 15;
            std::optional<int64_t> g;

            if (! lastTick)
            {
                // Re-synchronising: the first tick that sits where the host says.
                const auto nearest = static_cast<int64_t> (std::llround ((x / spq + ppq) * 768.0));
                if (regular (nearest, x))
                    g = nearest;
                else if (catchUpShape && jumpAllowed)
                {
                    sawUnidentified = true; // a catch-up run or a moved tick right after the jump
                    continue;
                }
                else
                {
                    fail (describe (k, t, "matches no tick of the host's timeline after a re-sync"));
                    continue;
                }
            }
            else
            {
                const int64_t expected = *lastTick + 1;
                if (regular (expected, x))
                    g = expected;
                else if (jumpAllowed && local == 3 && t.event.fraction == 0 && expected == firstDue
                         && ideal (expected) > -kTolerance && ideal (expected) < 3.0)
                {
                    g = expected; // moved behind the position words of a jump
                    ++totals.moved;
                }
                else if (catchUpShape && expected < firstDue && runTicks < fullRun && local == runTicks
                         && ideal (expected) < kTolerance)
                {
                    g = expected; // one of the catch-up run, due before the block start
                    ++runTicks;
                    ++totals.catchUps;
                    if (! jumpAllowed)
                        totals.worstCatchUpLateness = std::max (totals.worstCatchUpLateness, x - ideal (expected));
                }
                else if (catchUpShape && local == runTicks && ideal (firstDue) > -kTolerance
                         && ideal (firstDue) <= x + kTolerance && expected <= firstDue)
                {
                    // The regular tick, moved behind the run; ticks the run had no
                    // room for are lost, but only when the run was as long as the block allows.
                    if (expected < firstDue && runTicks < fullRun)
                    {
                        fail (describe (k, t, "lost ticks although the catch-up run had room"));
                        continue;
                    }
                    totals.lost += static_cast<int> (firstDue - expected);
                    g = firstDue;
                    ++totals.catchUps;
                    if (! jumpAllowed)
                        totals.worstCatchUpLateness = std::max (totals.worstCatchUpLateness, x - ideal (firstDue));
                }
                else
                {
                    for (int64_t later = expected + 1; later <= expected + 15 && ! g; ++later)
                        if (regular (later, x) && runTicks >= fullRun && ideal (later - 1) < kTolerance)
                        {
                            g = later;
                            totals.lost += static_cast<int> (later - expected);
                        }
                    if (! g)
                    {
                        fail (describe (k, t, "is not tick " + std::to_string (expected) + " (due at "
                                                  + std::to_string (ideal (expected)) + ")"));
                        continue;
                    }
                }
            }

            checkPosition (k, t, *g, resync || fact.oddBarLine);
            lastTick = g;
            ++totals.ticks;
        }

        if (! lastTick && sawUnidentified)
            lastTick = firstDue; // the run ended with the regular tick, moved behind it

        // Ticks that were due before this block (up to rounding) and still not
        // sent are gone: allowed only when the block had no room for a catch-up run.
        while (lastTick && ticks.empty() && ideal (*lastTick + 1) < kTolerance)
        {
            if (runTicks < fullRun)
            {
                fail ("block " + std::to_string (k) + " (n " + std::to_string (n) + ") drops tick "
                      + std::to_string (*lastTick + 1) + " although it had room to catch up");
                break;
            }
            ++totals.lost;
            lastTick = *lastTick + 1;
        }

        // Nothing that was due in this block may be left for later.
        const int64_t next = lastTick ? *lastTick + 1 : firstDue;
        const double dueAt = ideal (next);
        const bool movedOut = jumpAllowed && n <= 3 && dueAt < 3.0;
        if (dueAt < n - kTolerance && ! movedOut)
            fail ("block " + std::to_string (k) + " (n " + std::to_string (n) + ") ends without tick "
                  + std::to_string (next) + " due at " + std::to_string (dueAt));
    }

    void checkPosition (int k, const Placed& t, int64_t g, bool barMayJump)
    {
        if (! t.event.hasPosition)
        {
            fail (describe (k, t, "carries no position"));
            return;
        }

        const auto& pos = t.event.position;
        if (transport.allBarsWholeQuarters())
        {
            const double tickPpq = static_cast<double> (g) / 768.0;
            const auto& sig = transport.signatureAt (tickPpq + 1e-9);
            const auto barStart = static_cast<int64_t> (std::llround (transport.barStartAt (tickPpq + 1e-9) * 768.0));
            const int64_t inBar = g - barStart;
            const auto qpb = static_cast<uint32_t> (TimeData::quartersPerBar (sig.numerator, sig.denominator));
            const auto beat = static_cast<uint32_t> (inBar / 768);
            const StreamPosition expected { pos.bar, beat >= qpb ? 0u : beat, static_cast<uint32_t> (inBar % 768) };
            if (pos != expected)
                fail (describe (k, t, "carries beat " + std::to_string (pos.beat) + " tick " + std::to_string (pos.tick)
                                          + ", host says beat " + std::to_string (expected.beat) + " tick "
                                          + std::to_string (expected.tick)));
        }

        // The bar counter moves on by one at beat 0 tick 0 and otherwise stays,
        // except that a jump may restart it.
        if (lastBar)
        {
            const bool same = pos.bar == *lastBar;
            const bool next = pos.bar == ((*lastBar + 1) & 0x3FFFFu) && pos.beat == 0 && pos.tick == 0;
            const bool restarted = barMayJump && pos.bar == 0;
            if (! same && ! next && ! restarted)
                fail (describe (k, t, "bar " + std::to_string (pos.bar) + " after bar " + std::to_string (*lastBar)));
        }
        else if (rig.blocks()[static_cast<size_t> (k)].started || ! lastBar)
        {
            // First tick after a start: the count starts at bar 0.
            if (rig.blocks()[static_cast<size_t> (k)].started && pos.bar != 0)
                fail (describe (k, t, "first bar after a start is " + std::to_string (pos.bar)));
        }
        lastBar = pos.bar;
    }

    std::string describe (int k, const Placed& t, const std::string& what) const
    {
        const auto& rec = rig.blocks()[static_cast<size_t> (k)];
        std::ostringstream s;
        s << "tick at stream index " << t.event.index << " (block " << k << " of " << rec.n << " samples, local "
          << t.localTime << ", block ppq " << rec.host.ppq << ", " << rec.host.bpm << " bpm) " << what;
        return s.str();
    }
};

AuditTotals runScenario (const Scenario& s)
{
    ScriptedTransport transport (s.settings);
    if (s.script)
        s.script (transport);

    EncoderRig::Config config;
    config.hostRate = s.settings.hostRate;
    config.maxBlockSize = s.settings.maxBlock;
    config.syncDelay = s.syncDelay;
    config.maxTempo = s.maxTempo;
    EncoderRig rig (config);

    std::vector<BlockFacts> facts;
    const auto totalSamples = static_cast<int64_t> (s.seconds * s.settings.hostRate);
    int64_t done = 0;
    std::optional<double> previousPpq;
    while (done < totalSamples)
    {
        const auto block = transport.next();
        rig.process (block.host, block.hostSamples);

        BlockFacts f;
        f.relocated = block.relocated;
        if (previousPpq && block.host.isPlaying)
        {
            const double before = transport.barStartAt (*previousPpq);
            const double now = transport.barStartAt (block.host.ppq);
            const auto& sig = transport.signatureAt (*previousPpq);
            f.oddBarLine = now != before && (sig.numerator * 4) % sig.denominator != 0;
        }
        facts.push_back (f);
        previousPpq = block.host.isPlaying ? std::optional<double> (block.host.ppq) : std::nullopt;
        done += block.hostSamples;
    }

    TransportAudit audit (s, rig, transport, facts);
    return audit.run();
}

ScriptedTransport::Settings settings (double rate, int minBlock, int maxBlock, uint64_t seed, double bpm = 120.0)
{
    ScriptedTransport::Settings s;
    s.hostRate = rate;
    s.minBlock = minBlock;
    s.maxBlock = maxBlock;
    s.seed = seed;
    s.bpm = bpm;
    return s;
}

TEST (TransportProperty, SteadyTransportsAtEveryRateAndBlockSize)
{
    const Scenario scenarios[] = {
        { "44.1k, 512-sample blocks, 120 bpm", settings (44100.0, 512, 512, 1), 12.0 },
        { "48k, blocks of 1 to 64, 97.3 bpm", settings (48000.0, 1, 64, 2, 97.3), 4.0 },
        { "88.2k (divider 2), blocks of 1 to 4096, 133 bpm", settings (88200.0, 1, 4096, 3, 133.0), 12.0 },
        { "96k (divider 2), blocks of 1 to 9, 120 bpm", settings (96000.0, 1, 9, 4), 2.0 },
        { "176.4k (divider 4), blocks of 1 to 2048, 250 bpm", settings (176400.0, 1, 2048, 5, 250.0), 8.0 },
        { "192k (divider 4), blocks of 1 to 17, 30 bpm", settings (192000.0, 1, 17, 6, 30.0), 3.0 },
        { "44.1k, blocks of 4096, 250 bpm", settings (44100.0, 4096, 4096, 7, 250.0), 10.0 },
    };

    for (const auto& s : scenarios)
    {
        const auto t = runScenario (s);
        EXPECT_GT (t.ticks + t.lost, static_cast<int> (s.seconds * s.settings.bpm / 60.0 * 768.0 * 0.95)) << s.name;
        EXPECT_EQ (t.moved, 0) << s.name;
        EXPECT_EQ (t.resyncs, 1) << s.name;

        // The rate divider's carried remainder makes block frames overlap or
        // leave gaps of less than a sync sample: a tick can be caught up at
        // most that late. Losses need blocks too short for a catch-up run
        // (four sync samples or fewer) and a divider.
        EXPECT_LE (t.worstCatchUpLateness, 1.0 + kTolerance) << s.name;
        const int divider = EncoderRig::rateDividerFor (s.settings.hostRate);
        if (divider == 1 || s.settings.minBlock / divider > 4)
        {
            EXPECT_EQ (t.lost, 0) << s.name;
        }
    }
}

TEST (TransportProperty, TempoRampsStepsAndTimeSignatureChanges)
{
    const Scenario scenarios[] = {
        { "ramp 60 to 180 bpm and back, 96k, blocks of 1 to 4096", settings (96000.0, 1, 4096, 11, 60.0), 16.0, 600, 250.0,
          [] (ScriptedTransport& t) {
              t.addTempoPoint (4.0, 180.0, 16.0);
              t.addTempoPoint (28.0, 75.5, 8.0);
          } },
        { "tempo steps and signatures 4/4, 3/4, 6/8, 5/4, 12/8 at 192k", settings (192000.0, 64, 1024, 12, 140.0), 12.0, 400, 250.0,
          [] (ScriptedTransport& t) {
              t.addTimeSignatureChange (2, 3, 4);
              t.addTimeSignatureChange (2, 6, 8);
              t.addTempoPoint (13.0, 91.0);
              t.addTimeSignatureChange (3, 5, 4);
              t.addTempoPoint (22.3, 201.7);
              t.addTimeSignatureChange (2, 12, 8);
          } },
        { "7/8 and 5/8 bars at 44.1k, blocks of 32 to 512", settings (44100.0, 32, 512, 13, 150.0), 10.0, 300, 250.0,
          [] (ScriptedTransport& t) {
              t.addTimeSignatureChange (1, 7, 8);
              t.addTimeSignatureChange (4, 5, 8);
              t.addTimeSignatureChange (4, 4, 4);
          } },
        { "tempo leaves the accepted range and comes back", settings (48000.0, 128, 640, 14, 240.0), 8.0, 500, 250.0,
          [] (ScriptedTransport& t) {
              t.addTempoPoint (4.0, 262.0, 4.0);
              t.addTempoPoint (12.0, 200.0);
          } },
    };

    for (const auto& s : scenarios)
    {
        const auto t = runScenario (s);
        EXPECT_GT (t.ticks, 1000) << s.name;
        EXPECT_LE (t.worstCatchUpLateness, 1.0 + kTolerance) << s.name;
    }
}

TEST (TransportProperty, PreRollLoopsPausesAndRelocations)
{
    auto preRoll = settings (88200.0, 128, 2048, 21);
    preRoll.startPpq = -4.0;

    auto noBarStart = settings (44100.0, 256, 1024, 23, 110.0);
    noBarStart.reportsBarStart = false;
    noBarStart.numerator = 3;
    noBarStart.startPpq = 1.7;

    const Scenario scenarios[] = {
        { "pre-roll, then a 2-bar loop three times, 88.2k", preRoll, 20.0, 700, 250.0,
          [] (ScriptedTransport& t) { t.addLoop (8.0, 16.0, 3); } },
        { "one-bar loops at 48k, blocks of 1 to 300", settings (48000.0, 1, 300, 22, 180.0), 9.0, 300, 250.0,
          [] (ScriptedTransport& t) { t.addLoop (4.0, 8.0, 5); } },
        { "host without bar starts, 3/4 from 1.7 quarters", noBarStart, 8.0 },
        { "pause, resume in place, then relocate back", settings (48000.0, 256, 256, 24), 10.0, 400, 250.0,
          [] (ScriptedTransport& t) {
              t.addPause (6.0, 10);
              t.addPause (12.5, 5, 4.0);
          } },
    };

    for (const auto& s : scenarios)
    {
        const auto t = runScenario (s);
        EXPECT_GT (t.ticks, 1000) << s.name;
        EXPECT_GE (t.starts, 1) << s.name;
    }
}

} // namespace
} // namespace veltro
