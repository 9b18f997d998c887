#include "TerminationSignals.h"

#include "MessageThreadWakeUp.h"

#include <atomic>
#include <csignal>

namespace veltro::daemon
{

namespace
{
std::atomic<const MessageThreadWakeUp*> signalTarget { nullptr };

extern "C" void onTerminationSignal (int)
{
    if (const auto* target = signalTarget.load())
        target->notify(); // one write(): async-signal-safe
}
} // namespace

TerminationSignals::TerminationSignals (std::function<void()> quit)
    : wakeUp (std::make_unique<MessageThreadWakeUp> (std::move (quit)))
{
    if (! wakeUp->isValid())
        return; // no clean shutdown on signals; their default action still ends the process

    signalTarget.store (wakeUp.get());

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction (SIGTERM, &action, nullptr);
    sigaction (SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (signalTarget.load() != wakeUp.get())
        return;

    std::signal (SIGTERM, SIG_DFL);
    std::signal (SIGINT, SIG_DFL);
    signalTarget.store (nullptr);
}

} // namespace veltro::daemon
