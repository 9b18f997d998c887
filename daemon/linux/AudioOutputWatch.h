#pragma once

// Notices when audio outputs come or go. The framework here broadcasts no
// change of the device lists (other platforms' audio layers do), so the
// handler asks this watch once a second and rescans only when it says so:
// a full scan opens a JACK client each time, which costs the server a graph
// change, while this watch reads the port list through one client it keeps.

#include <memory>
#include <string>

namespace veltro::daemon
{

class AudioOutputWatch
{
public:
    AudioOutputWatch();
    ~AudioOutputWatch();

    // True when the outputs differ from the previous call (the first call
    // only takes the picture). Message thread.
    bool changed();

private:
    std::string describeJack();
    static std::string describeAlsa();

    struct Jack;
    std::unique_ptr<Jack> jack;
    std::string last;
    bool first = true;
};

} // namespace veltro::daemon
