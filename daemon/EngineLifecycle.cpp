#include "EngineLifecycle.h"

#include "DefaultDeviceChoice.h"

namespace veltro::daemon
{

EngineLifecycle::EngineLifecycle (EngineFactory factory) : makeEngine (std::move (factory)) {}

void EngineLifecycle::start()
{
    engine = makeEngine();
    chooseDefaultDevice (engine->deviceHandler);
}

void EngineLifecycle::restart()
{
    if (engine == nullptr)
    {
        start();
        return;
    }

    const auto selected = engine->deviceHandler.audioSetup.outputDeviceName;
    engine = nullptr;
    juce::Time::waitForMillisecondCounter (juce::Time::getMillisecondCounter() + kRestartPauseMs);
    engine = makeEngine();
    engine->deviceHandler.selectDeviceByName (selected);
}

} // namespace veltro::daemon
