// veltro-standin: the daemon stand-in as a process of its own, paced in real
// time, for trying the plug-in in a real host (or in veltro-host without
// --standin). It creates the channel under its real names, so run it under
// tools/run-isolated.sh together with the host unless no daemon is running.

#include "DaemonStandIn.h"
#include "StreamReport.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

namespace
{
    std::atomic<bool> stopRequested { false };

    extern "C" void onStopSignal (int)
    {
        stopRequested.store (true, std::memory_order_relaxed);
    }

    constexpr auto kPacingStep = std::chrono::milliseconds (2);

    struct Options
    {
        std::string eventsFile;
        bool verbose = false;
        int deviceType = 0;
        int callbackSamples = veltro::DaemonStandIn::kDefaultCallbackSamples;
        double seconds = 0.0; // 0: until SIGINT or SIGTERM
    };

    const char* const kUsage = R"(usage: veltro-standin [options]

Plays the daemon's side of the channel in real time and prints the decoded
sync stream. Ends on SIGINT or SIGTERM (or after --seconds), shutting the
channel down as the daemon does.

  --events FILE    decoded events, one per line
  --verbose        print every tick, not only every beat
  --device N [0]   device model: 0, 1, 2, or -1 for none
  --callback N     callback length in samples [32]
  --seconds S      stop after S seconds
)";

    bool parse (int argc, char* argv[], Options& o)
    {
        for (int i = 1; i < argc; ++i)
        {
            const std::string arg = argv[i];
            const bool hasValue = i + 1 < argc;

            if (arg == "--verbose")
                o.verbose = true;
            else if (arg == "--events" && hasValue)
                o.eventsFile = argv[++i];
            else if (arg == "--device" && hasValue)
                o.deviceType = std::atoi (argv[++i]);
            else if (arg == "--callback" && hasValue)
                o.callbackSamples = std::atoi (argv[++i]);
            else if (arg == "--seconds" && hasValue)
                o.seconds = std::atof (argv[++i]);
            else
                return false;
        }

        return o.callbackSamples > 0 && o.seconds >= 0.0;
    }
} // namespace

int main (int argc, char* argv[])
{
    Options options;
    if (! parse (argc, argv, options))
    {
        std::cerr << kUsage;
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset (&action.sa_mask);
    sigaction (SIGINT, &action, nullptr);
    sigaction (SIGTERM, &action, nullptr);

    veltro::DaemonStandIn standIn;
    standIn.setDeviceType (options.deviceType);
    standIn.setSamplesPerCallback (options.callbackSamples);

    if (! standIn.create())
    {
        std::cerr << "veltro-standin: cannot create the channel: " << std::strerror (errno) << '\n';
        return 3;
    }

    std::ofstream eventsFile;
    if (! options.eventsFile.empty())
        eventsFile.open (options.eventsFile, std::ios::out | std::ios::trunc);

    // Timestamps are in output samples; the output runs at 48000 Hz unless a
    // plug-in in the 44100 family set it up.
    veltro::StreamReport report (std::cout, eventsFile.is_open() ? &eventsFile : nullptr, options.verbose,
                                 veltro::DaemonStandIn::kOutputRate48000);

    std::cout << "standin.created=1" << std::endl;

    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    auto last = started;
    double owedSamples = 0.0;

    while (! stopRequested.load (std::memory_order_relaxed))
    {
        const auto now = Clock::now();
        if (options.seconds > 0.0 && now - started >= std::chrono::duration<double> (options.seconds))
            break;

        owedSamples += std::chrono::duration<double> (now - last).count() * standIn.getOutputSampleRate();
        last = now;

        const auto whole = static_cast<int> (owedSamples);
        standIn.pump (whole, &report);
        owedSamples -= whole;

        std::this_thread::sleep_for (kPacingStep);
    }

    report.finish();
    report.printSummary (std::cout);
    std::cout << "standin.codesRead=" << standIn.getTotalCodesRead() << '\n'
              << "standin.setUps=" << standIn.getSetUpCount() << '\n'
              << "standin.giveUps=" << standIn.getGiveUpCount() << '\n';

    standIn.shutDown();
    return 0;
}
