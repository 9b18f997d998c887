#include "VirtualOutputDevice.h"

namespace veltro::daemon::fakes
{

VirtualOutputDevice::VirtualOutputDevice (const juce::String& name, VirtualOutputDeviceType& o, int serialNumber)
    : juce::AudioIODevice (name, o.getTypeName()), serial (serialNumber)
{
}

VirtualOutputDevice::~VirtualOutputDevice()
{
    close();
}

juce::String VirtualOutputDevice::open (const juce::BigInteger&, const juce::BigInteger& outputChannels,
                                        double rate, int size)
{
    close();
    activeOutputs = outputChannels;
    activeOutputs.setRange (kChannels, juce::jmax (0, activeOutputs.getHighestBit() + 1 - kChannels), false);
    sampleRate = rate;
    bufferSize = size;
    opened = true;
    return {};
}

void VirtualOutputDevice::close()
{
    stop();
    opened = false;
}

void VirtualOutputDevice::start (juce::AudioIODeviceCallback* callback)
{
    if (! opened || callback == nullptr || callback == current)
        return;

    stop();
    callback->audioDeviceAboutToStart (this);
    current = callback;
}

void VirtualOutputDevice::stop()
{
    if (auto* callback = std::exchange (current, nullptr))
        callback->audioDeviceStopped();
}

const float* VirtualOutputDevice::process (int n) noexcept
{
    jassert (n > 0 && n <= kMaxSamples);
    n = juce::jlimit (1, kMaxSamples, n);

    std::array<float*, kChannels> active {};
    int numActive = 0;
    for (int c = 0; c < kChannels; ++c)
    {
        auto& buffer = buffers[static_cast<size_t> (c)];
        std::fill (buffer.begin(), buffer.begin() + n, 0.0f);
        if (activeOutputs[c])
            active[static_cast<size_t> (numActive++)] = buffer.data();
    }

    if (current != nullptr)
    {
        const juce::AudioIODeviceCallbackContext context {};
        current->audioDeviceIOCallbackWithContext (nullptr, 0, active.data(), numActive, n, context);
        ++callbacks;
    }
    return buffers[0].data();
}

VirtualOutputDeviceType::VirtualOutputDeviceType() : juce::AudioIODeviceType ("Virtual clocked") {}

void VirtualOutputDeviceType::setOutputs (const juce::StringArray& names)
{
    outputs = names;
    callDeviceChangeListeners();
}

juce::StringArray VirtualOutputDeviceType::getDeviceNames (bool wantInputNames) const
{
    return wantInputNames ? juce::StringArray() : outputs;
}

int VirtualOutputDeviceType::getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const
{
    return (device == nullptr || asInput) ? -1 : outputs.indexOf (device->getName());
}

juce::AudioIODevice* VirtualOutputDeviceType::createDevice (const juce::String& outputDeviceName, const juce::String&)
{
    if (! outputs.contains (outputDeviceName))
        return nullptr;
    return new VirtualOutputDevice (outputDeviceName, *this, ++devicesCreated);
}

} // namespace veltro::daemon::fakes
