// Prints the drift simulation's figures for every case: two clocks apart by
// -200..+200 ppm, host blocks of 32..2048 at 44.1 and 48 kHz, device callbacks
// of 32, 256 and 1024 samples, ten simulated minutes each.
//   veltro-drift-table [seconds]   (default 600)

#include "DriftSimulation.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main (int argc, char** argv)
{
    using namespace veltro::testing;

    const double seconds = argc > 1 ? std::atof (argv[1]) : 600.0;
    const double rates[] = { 44100.0, 48000.0 };
    const int callbacks[] = { 32, 256, 1024 };
    const int blocks[] = { 32, 64, 256, 512, 2048 };
    const double ppms[] = { -200.0, 0.0, 200.0 };

    std::printf ("| rate | callback | host block | ppm | fill min..max | inserted | dropped | nudges | emergencies | short reads | ticks lost | offset min..max (samples) | jitter rms (us) | first/last minute mean | max marker gap | run (s) |\n");
    std::printf ("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");

    for (auto rate : rates)
        for (auto n : callbacks)
            for (auto b : blocks)
                for (auto ppm : ppms)
                {
                    DriftCase c;
                    c.sampleRate = rate;
                    c.deviceCallback = n;
                    c.hostBlock = b;
                    c.ppm = ppm;
                    c.seconds = seconds;

                    const auto t0 = std::chrono::steady_clock::now();
                    const auto r = runDriftSimulation (c);
                    const double run = std::chrono::duration<double> (std::chrono::steady_clock::now() - t0).count();

                    std::printf ("| %.0f | %d | %d | %+.0f | %d..%d | %lld | %lld | %lld | %lld | %lld | %lld | %.2f..%.2f | %.1f | %.2f / %.2f | %d | %.1f |\n",
                                 rate, n, b, ppm, r.minFill, r.maxFill, (long long) r.silenceInserted, (long long) r.zerosDropped,
                                 (long long) r.nudges, (long long) r.emergencyCorrections, (long long) r.shortReadsAfterSettle,
                                 (long long) (r.nonZeroMismatches + r.positionMismatches), r.offsetMin, r.offsetMax,
                                 r.jitterRms / rate * 1.0e6, r.meanFirstMinute, r.meanLastMinute, r.maxMarkerGap, run);
                    std::fflush (stdout);
                }
    return 0;
}
