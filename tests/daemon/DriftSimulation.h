#pragma once

// A deterministic two-clock run of the whole stream path: the plug-in's
// encoder on the host clock writes blocks into the FIFO, the playout engine on
// the device clock reads callbacks out of it, and a decoder at the device
// compares every played tick with where the encoder placed it.

#include <cstdint>

namespace veltro::testing
{

struct DriftCase
{
    double sampleRate = 48000.0;
    int hostBlock = 512;      // sync samples per host block
    int deviceCallback = 32;  // samples per device callback
    double ppm = 0.0;         // device clock relative to the host clock
    double seconds = 600.0;
    double bpm = 120.0;
    double settleSeconds = 20.0; // figures are taken after this
};

struct DriftResult
{
    // FIFO fill seen at the device callbacks after settling.
    int minFill = 0;
    int maxFill = 0;

    int64_t silenceInserted = 0;   // samples, whole run
    int64_t zerosDropped = 0;      // codes, whole run
    int64_t nudges = 0;
    int64_t emergencyCorrections = 0; // pads and drops after settling
    int64_t shortReadsAfterSettle = 0;
    int64_t codesRefused = 0;      // the FIFO was full when the producer wrote

    int64_t ticksProduced = 0;
    int64_t ticksPlayed = 0;
    int64_t nonZeroMismatches = 0; // a played non-zero code that was not the next one produced
    int64_t positionMismatches = 0;

    // Offset, in device samples, between where a tick was placed and where it
    // was played (the constant path delay included), after settling.
    double offsetMin = 0.0;
    double offsetMax = 0.0;
    double offsetMean = 0.0;
    double jitterRms = 0.0;       // standard deviation of the offset
    double meanFirstMinute = 0.0; // steadiness: mean offset in the first and the
    double meanLastMinute = 0.0;  // last minute after settling

    int64_t markersPlayed = 0;
    int maxMarkerGap = 0;         // samples between consecutive markers after settling
};

DriftResult runDriftSimulation (const DriftCase& c);

} // namespace veltro::testing
