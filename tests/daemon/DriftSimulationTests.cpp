// The key test of the playout path: two clocks apart by up to 200 ppm, host
// blocks from 32 to 2048, device callbacks of 32, 256 and 1024, ten simulated
// minutes each. The full table of figures is printed by the benchmark
// program; here every case must keep the stream whole and its timing steady.

#include "DriftSimulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>

namespace veltro::testing
{

void PrintTo (const DriftCase& c, std::ostream* os)
{
    *os << c.sampleRate << " Hz, host block " << c.hostBlock << ", callback " << c.deviceCallback << ", " << c.ppm << " ppm";
}

namespace
{

class DriftSimulation : public ::testing::TestWithParam<DriftCase>
{
};

TEST_P (DriftSimulation, StreamStaysWholeAndSteady)
{
    const auto& c = GetParam();
    const auto r = runDriftSimulation (c);

    // Nothing but silence is ever dropped and every tick arrives, in order,
    // with its position.
    EXPECT_EQ (r.codesRefused, 0);
    EXPECT_EQ (r.nonZeroMismatches, 0);
    EXPECT_EQ (r.positionMismatches, 0);
    EXPECT_GT (r.ticksPlayed, static_cast<int64_t> (c.seconds * c.bpm / 60.0 * 768 * 0.99));
    EXPECT_LE (r.ticksProduced - r.ticksPlayed, 2 * (c.hostBlock + 8192) / 10 + 10);

    // After start-up the FIFO never runs short and needs no emergency corrections.
    EXPECT_EQ (r.shortReadsAfterSettle, 0);
    EXPECT_EQ (r.emergencyCorrections, 0);
    EXPECT_GE (r.minFill, c.deviceCallback);

    // The offset between placed and played ticks stays inside a band set by
    // the controller, not by the length of the run. With short callbacks that
    // band is a few dozen samples; with long ones the fill can only be seen in
    // steps of a callback or host block, and the band is about one such step.
    const double step = c.deviceCallback <= 32 ? 32.0 : std::min (c.hostBlock, c.deviceCallback);
    const double band = c.deviceCallback <= 32 ? 100.0 : 2.0 * step + 64.0;
    EXPECT_LT (r.offsetMax - r.offsetMin, band) << "offset " << r.offsetMin << " .. " << r.offsetMax;
    EXPECT_LT (std::abs (r.meanLastMinute - r.meanFirstMinute), c.deviceCallback <= 32 ? 40.0 : band);

    // Markers keep coming about every 300 samples.
    EXPECT_GT (r.markersPlayed, 0);
    EXPECT_LE (r.maxMarkerGap, c.deviceCallback <= 32 ? 340 : 330);
}

DriftCase make (double rate, int block, int callback, double ppm)
{
    DriftCase c;
    c.sampleRate = rate;
    c.hostBlock = block;
    c.deviceCallback = callback;
    c.ppm = ppm;
    return c;
}

INSTANTIATE_TEST_SUITE_P (TwoClocks, DriftSimulation,
                          ::testing::Values (make (48000, 32, 32, 200), make (48000, 2048, 32, -200),
                                             make (44100, 512, 32, 200), make (44100, 64, 256, -200),
                                             make (48000, 64, 256, 200), make (48000, 2048, 256, 200),
                                             make (44100, 128, 1024, 200), make (48000, 32, 1024, -200),
                                             make (48000, 2048, 1024, -200), make (44100, 1024, 1024, 0)));

} // namespace
} // namespace veltro::testing
