#include "TerminationSignals.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace veltro::daemon
{

namespace
{
std::atomic<int> signalWriteEnd { -1 };

extern "C" void onTerminationSignal (int)
{
    // write() is async-signal-safe; a full pipe already holds a wake-up.
    if (const int fd = signalWriteEnd.load(); fd >= 0)
    {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write (fd, &byte, 1);
    }
}
} // namespace

TerminationSignals::TerminationSignals (std::function<void()> q) : quit (std::move (q))
{
    int fds[2];
    if (::pipe2 (fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no clean shutdown on signals; the default action still ends the process

    readEnd = fds[0];
    signalWriteEnd.store (fds[1]);

    juce::LinuxEventLoop::registerFdCallback (readEnd, [this] (int fd) {
        char bytes[16];
        while (::read (fd, bytes, sizeof bytes) > 0) {}
        if (quit)
            quit();
    });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction (SIGTERM, &action, nullptr);
    sigaction (SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (readEnd < 0)
        return;

    std::signal (SIGTERM, SIG_DFL);
    std::signal (SIGINT, SIG_DFL);
    juce::LinuxEventLoop::unregisterFdCallback (readEnd);
    ::close (signalWriteEnd.exchange (-1));
    ::close (readEnd);
}

} // namespace veltro::daemon
