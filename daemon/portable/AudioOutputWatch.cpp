// Where the framework's audio layer reports device-list changes itself (its
// device manager broadcasts them), there is nothing more to watch.

#include "AudioOutputWatch.h"

namespace veltro::daemon
{

struct AudioOutputWatch::Impl
{
};

AudioOutputWatch::AudioOutputWatch (std::function<void()>, std::string) : impl (std::make_unique<Impl>()) {}

AudioOutputWatch::~AudioOutputWatch() = default;

bool AudioOutputWatch::changed()
{
    return false;
}

} // namespace veltro::daemon
