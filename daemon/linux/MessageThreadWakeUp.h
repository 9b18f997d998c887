#pragma once

// Lets any thread, and a signal handler, have a function run on the message
// thread: notify() writes to an eventfd that the message loop watches. No
// polling while nothing happens, and notify() neither blocks nor allocates.

#include <functional>

namespace veltro::daemon
{

class MessageThreadWakeUp
{
public:
    explicit MessageThreadWakeUp (std::function<void()> onWakeUp);
    ~MessageThreadWakeUp();

    MessageThreadWakeUp (const MessageThreadWakeUp&) = delete;
    MessageThreadWakeUp& operator= (const MessageThreadWakeUp&) = delete;

    // Async-signal-safe. Several notifications before the message thread
    // gets to them run the function once.
    void notify() const noexcept;

    bool isValid() const noexcept { return fd >= 0; }

private:
    std::function<void()> onWakeUp;
    int fd = -1;
};

} // namespace veltro::daemon
