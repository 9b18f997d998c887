// The virtual device's decoder, which every chain test relies on: fed a
// stream as the daemon plays it (burst, the plug-in's codes, markers), it
// must report the burst, lock, tempo, meter and every tick, measure the
// tick timing against its own clock, and lose the signal after silence.

#include "DeviceMonitor.h"
#include "EncoderRig.h"
#include "IdentificationBurst.h"
#include "MarkerInjector.h"
#include "ScriptedTransport.h"
#include "SyncCodes.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace veltro
{
namespace
{

using testing::EncoderRig;
using testing::ScriptedTransport;

// What the daemon plays: silence, the burst, then the plug-in's codes, with
// markers put in the way the engine puts them, in 32-sample callbacks.
std::vector<float> playedStream (const std::vector<uint16_t>& burst, const std::vector<uint16_t>& codes)
{
    std::vector<float> samples (480, 0.0f);
    for (auto c : burst)
        samples.push_back (SyncCode::toSample (c));
    const auto streamStart = samples.size();
    for (auto c : codes)
        samples.push_back (SyncCode::toSample (c));

    daemon::MarkerInjector markers;
    for (size_t i = streamStart; i + 32 <= samples.size(); i += 32)
        markers.inject (samples.data() + i, 32);
    return samples;
}

std::vector<uint16_t> songCodes (double bpm, int numerator, int denominator, double seconds)
{
    ScriptedTransport::Settings s;
    s.bpm = bpm;
    s.numerator = numerator;
    s.denominator = denominator;
    ScriptedTransport transport (s);
    EncoderRig rig ({});
    while (rig.stream().size() < static_cast<size_t> (seconds * 48000.0))
    {
        const auto block = transport.next();
        rig.process (block.host, block.hostSamples);
    }
    return rig.stream();
}

void feedInCycles (DeviceMonitor& monitor, const std::vector<float>& samples, int cycle = 256)
{
    for (size_t i = 0; i < samples.size(); i += static_cast<size_t> (cycle))
        monitor.receiveSamples (samples.data() + i, static_cast<int> (std::min<size_t> (static_cast<size_t> (cycle), samples.size() - i)));
}

TEST (VirtualDeviceMonitor, ReportsBurstLockTempoTicksAndMarkers)
{
    const auto burst = daemon::identificationBurst (17, SyncCode::System::onLinux);
    const auto codes = songCodes (132.0, 3, 4, 4.0);
    const auto samples = playedStream ({ burst.begin(), burst.end() }, codes);

    std::ostringstream console, events;
    DeviceMonitor monitor (console, &events, {});
    feedInCycles (monitor, samples);

    ASSERT_TRUE (monitor.lastBurst().has_value());
    EXPECT_TRUE (monitor.lastBurst()->tokenValid);
    EXPECT_EQ (monitor.lastBurst()->dawCode, 4);
    EXPECT_EQ (monitor.lastBurst()->systemCode, 3);
    EXPECT_EQ (monitor.lastBurst()->index, 480);
    EXPECT_TRUE (monitor.isLocked());
    EXPECT_DOUBLE_EQ (monitor.tempo(), 132.0);

    const auto& st = monitor.statistics();
    EXPECT_EQ (st.bursts, 1);
    EXPECT_EQ (st.badBursts, 0);
    EXPECT_EQ (st.starts, 1);
    EXPECT_EQ (st.broken, 0);
    EXPECT_EQ (st.unknown, 0);
    EXPECT_EQ (st.positionJumps, 0);

    // The ticks the encoder wrote, every one of them, on time to well under
    // a sample: nothing in this stream moves them.
    const auto written = testing::eventsOfKind (testing::decodeAll (codes), SyncEvent::Kind::tick).size();
    EXPECT_EQ (st.ticks, static_cast<int64_t> (written));
    EXPECT_GT (st.timedIntervals, st.ticks / 2);
    EXPECT_LT (st.jitterMaxUs, 1.0);

    // Markers 300 to 331 samples apart, none lost to the decoder.
    EXPECT_GT (st.markers, static_cast<int64_t> (codes.size() / 340));
    EXPECT_GE (st.markerGapMin, 300);
    EXPECT_LE (st.markerGapMax, 331);

    EXPECT_NE (events.str().find ("burst index=480 token=1 daw=4 system=3"), std::string::npos);
    EXPECT_NE (events.str().find ("\nlock index="), std::string::npos);

    // Half a second and more of silence: the signal is lost.
    feedInCycles (monitor, std::vector<float> (30000, 0.0f));
    EXPECT_FALSE (monitor.isLocked());
    EXPECT_EQ (monitor.statistics().unlocks, 1);
}

// A broken identification: a token byte wrong, or the burst cut short.
TEST (VirtualDeviceMonitor, FaultyBursts)
{
    auto wrongByte = daemon::identificationBurst (50, SyncCode::System::onLinux);
    wrongByte[5] = static_cast<uint16_t> (wrongByte[5] ^ 0x01);
    const auto full = daemon::identificationBurst (50, SyncCode::System::onLinux);
    const std::vector<uint16_t> cutShort (full.begin(), full.begin() + 9);
    const auto codes = songCodes (120.0, 4, 4, 1.0);

    {
        std::ostringstream console;
        DeviceMonitor monitor (console, nullptr, {});
        feedInCycles (monitor, playedStream ({ wrongByte.begin(), wrongByte.end() }, codes));
        ASSERT_TRUE (monitor.lastBurst().has_value());
        EXPECT_FALSE (monitor.lastBurst()->tokenValid);
        EXPECT_NE (console.str().find ("token INVALID"), std::string::npos);
    }
    {
        std::ostringstream console;
        DeviceMonitor monitor (console, nullptr, {});
        feedInCycles (monitor, playedStream (cutShort, codes));
        EXPECT_FALSE (monitor.lastBurst().has_value());
        EXPECT_EQ (monitor.statistics().badBursts, 1);
    }
}

} // namespace
} // namespace veltro
