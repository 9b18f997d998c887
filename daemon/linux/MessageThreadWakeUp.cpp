#include "MessageThreadWakeUp.h"

#include <juce_events/juce_events.h>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace veltro::daemon
{

MessageThreadWakeUp::MessageThreadWakeUp (std::function<void()> f) : onWakeUp (std::move (f))
{
    fd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return;

    juce::LinuxEventLoop::registerFdCallback (fd, [this] (int readable) {
        uint64_t count = 0;
        if (::read (readable, &count, sizeof count) == sizeof count && onWakeUp)
            onWakeUp();
    });
}

MessageThreadWakeUp::~MessageThreadWakeUp()
{
    if (fd < 0)
        return;
    juce::LinuxEventLoop::unregisterFdCallback (fd);
    ::close (fd);
}

void MessageThreadWakeUp::notify() const noexcept
{
    if (fd < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write (fd, &one, sizeof one);
}

} // namespace veltro::daemon
