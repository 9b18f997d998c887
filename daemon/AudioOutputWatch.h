#pragma once

// Notices when audio or MIDI devices may have come or gone, without polling.
// Where the framework's audio layer broadcasts device-list changes itself
// (macOS), the watch has nothing to add. On Linux it does not, so the watch
// wakes the message thread when an entry comes or goes in the ALSA device
// directory (a USB audio or MIDI device adds its nodes there) or a JACK
// client or port comes or goes. The handler then asks changed() and rescans
// only when the picture differs: a full scan opens a JACK client each time,
// which costs the server a graph change, while the watch keeps one of its own.

#include <functional>
#include <memory>
#include <string>

namespace veltro::daemon
{

class AudioOutputWatch
{
public:
    // `onMaybeChanged` runs on the message thread. `alsaDeviceDirectory` is
    // where the system keeps its sound device nodes (tests: a directory of
    // their own).
    AudioOutputWatch (std::function<void()> onMaybeChanged, std::string alsaDeviceDirectory);
    ~AudioOutputWatch();

    AudioOutputWatch (const AudioOutputWatch&) = delete;
    AudioOutputWatch& operator= (const AudioOutputWatch&) = delete;

    // True when the outputs differ from the previous call (the first call
    // only takes the picture). Message thread.
    bool changed();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace veltro::daemon
