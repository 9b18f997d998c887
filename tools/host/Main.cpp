// veltro-host: a small VST3 host for trying and testing the plug-in without a
// DAW. See hostUsage() for what it does.

#include "HostOptions.h"
#include "HostSession.h"

#include <csignal>
#include <iostream>
#include <thread>

namespace
{
    extern "C" void onStopSignal (int)
    {
        veltro::HostSession::requestStop();
    }

    void installStopSignals()
    {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset (&action.sa_mask);
        sigaction (SIGINT, &action, nullptr);
        sigaction (SIGTERM, &action, nullptr);
    }
} // namespace

int main (int argc, char* argv[])
{
    const std::vector<std::string> args (argv + 1, argv + argc);
    const auto parsed = veltro::parseHostOptions (args);

    if (parsed.options.showHelp)
    {
        std::cout << veltro::hostUsage();
        return veltro::HostSession::succeeded;
    }

    if (! parsed.error.empty())
    {
        std::cerr << "veltro-host: " << parsed.error << "\n\n" << veltro::hostUsage();
        return veltro::HostSession::badCommandLine;
    }

    installStopSignals();

    // The main thread is the message thread and keeps dispatching (timers,
    // the plug-in's change notifications); the session works on its own
    // thread, which is also the audio thread.
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    int exitCode = veltro::HostSession::succeeded;

    {
        veltro::HostSession session (parsed.options, std::cout, std::cerr);

        std::thread worker ([&] {
            exitCode = session.run();
            juce::MessageManager::callAsync ([] { juce::MessageManager::getInstance()->stopDispatchLoop(); });
        });

        juce::MessageManager::getInstance()->runDispatchLoop();
        worker.join();
    }

    return exitCode;
}
