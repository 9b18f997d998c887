#pragma once

// The daemon's view of the sound hardware: the device manager and the player
// that feeds the engine into it, the detected devices of the family, the
// selected output, reopening it after device changes, and notifications.

#include "DesktopNotifier.h"
#include "DeviceNames.h"
#include "AudioOutputWatch.h"
#include "SharedField.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_utils/juce_audio_utils.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace veltro::daemon
{

class AudioAndMIDIHandler : public juce::ChangeListener, private juce::Timer
{
public:
    static constexpr int kDebounceMs = 1000;
    static constexpr int kPreferredBufferSize = 32;

    struct DetectedList
    {
        std::vector<DetectedDevice> devices;
        juce::StringArray names;
        juce::StringArray typeNames; // the device type each name was found under
    };

    // The names of the MIDI outputs, in the system's order.
    using MidiOutputLister = std::function<juce::StringArray()>;
    static juce::StringArray systemMidiOutputNames();

    // What tests replace. `extraDeviceType` is added before the framework
    // creates its own, so it is the only one; `midiOutputs` replaces the
    // system's list; the watch looks for device nodes in `alsaDeviceDirectory`.
    struct SystemSeams
    {
        std::unique_ptr<juce::AudioIODeviceType> extraDeviceType;
        MidiOutputLister midiOutputs;
        std::string alsaDeviceDirectory = "/dev/snd";
    };

    AudioAndMIDIHandler (juce::AudioSource& engine, DesktopNotifier& notifier, SystemSeams seams);
    ~AudioAndMIDIHandler() override;

    void changeListenerCallback (juce::ChangeBroadcaster*) override;

    void scanDevices (DetectedList& out);
    void updateDetectedDevices();
    bool selectDeviceByName (const juce::String& name);

    // A scan waits for the debounce timer. Message thread (tests, diagnostics).
    bool isUpdatePending() const noexcept { return updatePending; }
    void sendNotification (const juce::String& message);

    // Applies audioSetup, on the device type that lists the selected name.
    // Caller holds setupLock where the engine requires it.
    void applySetup();

    // True while applySetup replaces the output on purpose, so the engine can
    // tell a deliberate change from an output that was lost.
    RelaxedValue<bool> changingOutput { false };

    // ---- read by the engine and the tray (message thread) ----
    juce::AudioDeviceManager deviceManager;
    juce::AudioSourcePlayer audioSourcePlayer;
    std::vector<DetectedDevice> detectedDevices;
    juce::StringArray detectedDeviceNames;
    juce::AudioDeviceManager::AudioDeviceSetup audioSetup;
    std::mutex setupLock;

    RelaxedValue<bool> audioActive { false };
    RelaxedValue<bool> deviceTypeUpdateNeeded { false };

    // The model of the selected output, published whole for the audio thread
    // whenever the list or the selection changes, so the callback never reads
    // the lists while the message thread replaces them.
    RelaxedValue<int32_t> selectedOutputModel { SharedMemory::invalid };
    void publishSelectedModel() noexcept;

private:
    void timerCallback() override;
    void checkDeviceLists();
    void closeVanishedOutput (const DetectedList& scan);

    DesktopNotifier& notifier;
    MidiOutputLister listMidiOutputs;
    bool updatePending = false;
    DetectedList scanned;
    std::mutex scanLock;
    juce::StringArray typeNamesOfDetected;
    juce::StringArray lastMidiOutputs;

    // The framework here has no device-list notifications (neither MIDI nor
    // audio): the watch wakes us when devices may have changed, and a change
    // it confirms is treated like the manager's broadcast.
    AudioOutputWatch outputWatch;

};

} // namespace veltro::daemon
