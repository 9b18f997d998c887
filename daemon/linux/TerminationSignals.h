#pragma once

// SIGTERM and SIGINT end the daemon like its "Quit": the handler only wakes
// the message loop, which calls `quit` on the message thread. Nothing polls
// while no signal comes.

#include <functional>
#include <memory>

namespace veltro::daemon
{

class MessageThreadWakeUp;

class TerminationSignals
{
public:
    explicit TerminationSignals (std::function<void()> quit);
    ~TerminationSignals();

    TerminationSignals (const TerminationSignals&) = delete;
    TerminationSignals& operator= (const TerminationSignals&) = delete;

private:
    std::unique_ptr<MessageThreadWakeUp> wakeUp;
};

} // namespace veltro::daemon
