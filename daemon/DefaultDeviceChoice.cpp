#include "DefaultDeviceChoice.h"

#include "AudioAndMIDIHandler.h"

namespace veltro::daemon
{

bool chooseDefaultDevice (AudioAndMIDIHandler& handler)
{
    const auto& devices = handler.detectedDevices;
    for (size_t i = 0; i < devices.size(); ++i)
    {
        if (devices[i].deviceType == SharedMemory::invalid)
            continue;

        handler.audioSetup.outputDeviceName = handler.detectedDeviceNames[static_cast<int> (i)];
        handler.publishSelectedModel();

        if (handler.audioActive.load())
        {
            if (handler.deviceManager.getCurrentAudioDevice() != nullptr)
                handler.deviceTypeUpdateNeeded = true;
            handler.applySetup();
        }
        return true;
    }
    return false;
}

} // namespace veltro::daemon
