#pragma once

// A device type whose outputs the test lists and unlists at will, and whose
// devices have no clock of their own: the test calls process(n) and the
// device runs one callback of n samples on the calling thread, exactly as a
// sound card's thread would. Added to the daemon's device manager before the
// framework creates its own types, it is the only type there.

#include <juce_audio_devices/juce_audio_devices.h>

#include <array>

namespace veltro::daemon::fakes
{

class VirtualOutputDeviceType;

class VirtualOutputDevice : public juce::AudioIODevice
{
public:
    static constexpr int kMaxSamples = 4096;
    static constexpr int kChannels = 2;

    VirtualOutputDevice (const juce::String& name, VirtualOutputDeviceType& owner, int serial);
    ~VirtualOutputDevice() override;

    juce::StringArray getOutputChannelNames() override { return { "Out 1", "Out 2" }; }
    juce::StringArray getInputChannelNames() override { return {}; }
    juce::Array<double> getAvailableSampleRates() override { return { 44100.0, 48000.0 }; }
    juce::Array<int> getAvailableBufferSizes() override { return { 16, 32, 256, 1024 }; }
    int getDefaultBufferSize() override { return 32; }

    juce::String open (const juce::BigInteger& inputChannels, const juce::BigInteger& outputChannels,
                       double sampleRate, int bufferSizeSamples) override;
    void close() override;
    bool isOpen() override { return opened; }
    void start (juce::AudioIODeviceCallback* callback) override;
    void stop() override;
    bool isPlaying() override { return current != nullptr; }
    juce::String getLastError() override { return {}; }

    int getCurrentBufferSizeSamples() override { return bufferSize; }
    double getCurrentSampleRate() override { return sampleRate; }
    int getCurrentBitDepth() override { return 32; }
    juce::BigInteger getActiveOutputChannels() const override { return activeOutputs; }
    juce::BigInteger getActiveInputChannels() const override { return {}; }
    int getOutputLatencyInSamples() override { return 0; }
    int getInputLatencyInSamples() override { return 0; }

    // One tick of the device's clock: a callback of n samples (n at most
    // kMaxSamples) into freshly cleared buffers. Returns the first output
    // channel as the device received it. Allocates nothing.
    const float* process (int n) noexcept;
    const float* channel (int index) const noexcept { return buffers[static_cast<size_t> (index)].data(); }

    const int serial; // tells a reopened device from the one before
    int callbacks = 0;

private:
    juce::AudioIODeviceCallback* current = nullptr;
    bool opened = false;
    double sampleRate = 0.0;
    int bufferSize = 0;
    juce::BigInteger activeOutputs;
    std::array<std::array<float, kMaxSamples>, kChannels> buffers {};
};

class VirtualOutputDeviceType : public juce::AudioIODeviceType
{
public:
    VirtualOutputDeviceType();

    // The outputs as the system would list them now; tells the device
    // manager, as a platform's hot-plug notification does.
    void setOutputs (const juce::StringArray& names);

    void scanForDevices() override {}
    juce::StringArray getDeviceNames (bool wantInputNames) const override;
    int getDefaultDeviceIndex (bool) const override { return 0; }
    int getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const override;
    bool hasSeparateInputsAndOutputs() const override { return true; }
    juce::AudioIODevice* createDevice (const juce::String& outputDeviceName, const juce::String& inputDeviceName) override;

    int devicesCreated = 0;

private:
    juce::StringArray outputs;
};

} // namespace veltro::daemon::fakes
