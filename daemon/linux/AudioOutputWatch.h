#pragma once

// Notices when audio or MIDI devices may have come or gone, without polling.
// The framework here broadcasts no change of its device lists (other
// platforms' audio layers do), so this watch wakes the message thread when
// an entry comes or goes in the ALSA device directory (a USB audio or MIDI
// device adds its nodes there) or a JACK client or port comes or goes. The
// handler then asks changed() and rescans only when the picture differs: a
// full scan opens a JACK client each time, which costs the server a graph
// change, while this watch keeps one client of its own.

#include <functional>
#include <memory>
#include <string>

namespace veltro::daemon
{

class AudioOutputWatch
{
public:
    static constexpr int kServerRetryMs = 5000;

    // `onMaybeChanged` runs on the message thread.
    explicit AudioOutputWatch (std::function<void()> onMaybeChanged, std::string alsaDeviceDirectory = "/dev/snd");
    ~AudioOutputWatch();

    AudioOutputWatch (const AudioOutputWatch&) = delete;
    AudioOutputWatch& operator= (const AudioOutputWatch&) = delete;

    // True when the outputs differ from the previous call (the first call
    // only takes the picture). Message thread.
    bool changed();

private:
    std::string describeAlsa() const;
    std::string describeJack();

    struct Alsa;
    struct Jack;
    std::function<void()> onMaybeChanged;
    std::string alsaDirectory;
    std::unique_ptr<Alsa> alsa;
    std::unique_ptr<Jack> jack;
    std::string last;
    bool first = true;
};

} // namespace veltro::daemon
