#pragma once

// SIGTERM and SIGINT end the daemon like its "Quit": the handler only writes
// a byte to a pipe, and the message loop, which watches the pipe's other end,
// calls `quit` on the message thread. Nothing polls while no signal comes.

#include <functional>

namespace veltro::daemon
{

class TerminationSignals
{
public:
    explicit TerminationSignals (std::function<void()> quit);
    ~TerminationSignals();

    TerminationSignals (const TerminationSignals&) = delete;
    TerminationSignals& operator= (const TerminationSignals&) = delete;

private:
    std::function<void()> quit;
    int readEnd = -1;
};

} // namespace veltro::daemon
