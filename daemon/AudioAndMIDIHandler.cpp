#include "AudioAndMIDIHandler.h"

namespace veltro::daemon
{

juce::StringArray AudioAndMIDIHandler::systemMidiOutputNames()
{
    juce::StringArray names;
    for (const auto& d : juce::MidiOutput::getAvailableDevices())
        names.add (d.name);
    return names;
}

AudioAndMIDIHandler::AudioAndMIDIHandler (juce::AudioSource& engine, DesktopNotifier& n, SystemSeams seams)
    : notifier (n),
      listMidiOutputs (seams.midiOutputs ? std::move (seams.midiOutputs) : MidiOutputLister (systemMidiOutputNames)),
      outputWatch ([this] { checkDeviceLists(); }, seams.alsaDeviceDirectory)
{
    audioSetup.outputDeviceName = {};
    audioSetup.inputDeviceName = {};
    audioSetup.sampleRate = 0.0;
    audioSetup.bufferSize = kPreferredBufferSize;
    audioSetup.inputChannels.clear();
    audioSetup.useDefaultInputChannels = false;
    audioSetup.outputChannels.clear();
    audioSetup.outputChannels.setBit (0);
    audioSetup.useDefaultOutputChannels = false;

    if (seams.extraDeviceType != nullptr)
        deviceManager.addAudioDeviceType (std::move (seams.extraDeviceType));

    // Devices present at start-up are taken over without notifications.
    DetectedList first;
    scanDevices (first);
    detectedDevices = first.devices;
    detectedDeviceNames = first.names;
    typeNamesOfDetected = first.typeNames;
    publishSelectedModel();

    deviceManager.addChangeListener (this);
    deviceManager.addAudioCallback (&audioSourcePlayer);
    audioSourcePlayer.setSource (&engine);

    lastMidiOutputs = listMidiOutputs();
    outputWatch.changed(); // the picture later checks compare with
}

AudioAndMIDIHandler::~AudioAndMIDIHandler()
{
    stopTimer();
    deviceManager.removeAllChangeListeners();
    deviceManager.closeAudioDevice();
    audioSourcePlayer.setSource (nullptr);
    deviceManager.removeAudioCallback (&audioSourcePlayer);
}

void AudioAndMIDIHandler::scanDevices (DetectedList& out)
{
    out = {};

    // Every type, in the framework's order (ALSA, then JACK): a device that
    // ALSA lists directly gives short callbacks; one reachable only through a
    // server is found under JACK. A name listed twice keeps its first type.
    for (auto* type : deviceManager.getAvailableDeviceTypes())
    {
        type->scanForDevices();
        for (const auto& name : type->getDeviceNames (false))
        {
            if (out.names.contains (name))
                continue;
            if (const auto entry = classifyAudioOutputName (name.toStdString()))
            {
                out.devices.push_back (*entry);
                out.names.add (name);
                out.typeNames.add (type->getTypeName());
            }
        }
    }

    if (! out.devices.empty())
        return;

    for (const auto& name : listMidiOutputs())
        if (isFallbackMidiOutputName (name.toStdString()))
        {
            out.devices.push_back ({ SharedMemory::invalid, true });
            out.names.add ({});
            out.typeNames.add ({});
            break;
        }
}

void AudioAndMIDIHandler::changeListenerCallback (juce::ChangeBroadcaster*)
{
    DetectedList local;
    scanDevices (local);
    closeVanishedOutput (local);

    const std::lock_guard<std::mutex> lock (scanLock);
    scanned = std::move (local);

    if (updatePending)
    {
        stopTimer();
        updatePending = false;
        updateDetectedDevices();
    }
    else
    {
        updatePending = true;
        startTimer (kDebounceMs);
    }
}

void AudioAndMIDIHandler::timerCallback()
{
    std::unique_lock<std::mutex> lock (scanLock, std::try_to_lock);
    if (! lock.owns_lock())
        return;

    stopTimer();
    updatePending = false;
    updateDetectedDevices();
}

void AudioAndMIDIHandler::checkDeviceLists()
{
    auto now = listMidiOutputs();
    const bool midiChanged = now != lastMidiOutputs;
    lastMidiOutputs = now;

    if (outputWatch.changed() || midiChanged)
        changeListenerCallback (nullptr);
}

void AudioAndMIDIHandler::closeVanishedOutput (const DetectedList& scan)
{
    // An audio layer that tracks hot-plugging closes the device of an
    // unplugged output itself; JACK keeps our client open, connected to
    // nothing. Close it here, so the device's return reopens the output.
    auto* device = deviceManager.getCurrentAudioDevice();
    if (device == nullptr || scan.names.contains (device->getName()))
        return;

    const std::lock_guard<std::mutex> lock (setupLock);
    deviceManager.closeAudioDevice();
}

void AudioAndMIDIHandler::updateDetectedDevices()
{
    const auto& scan = scanned;

    int firstKnown = -1;
    for (size_t i = 0; i < scan.devices.size(); ++i)
        if (scan.devices[i].deviceType != SharedMemory::invalid)
        {
            firstKnown = static_cast<int> (i);
            break;
        }

    if (scan.devices.size() != detectedDevices.size())
    {
        auto countOf = [] (const std::vector<DetectedDevice>& list, int32_t model) {
            return std::count_if (list.begin(), list.end(), [model] (const DetectedDevice& d) { return d.deviceType == model; });
        };

        for (int32_t model : { SharedMemory::tactora, SharedMemory::klavo2, SharedMemory::vantel })
        {
            const auto before = countOf (detectedDevices, model);
            const auto after = countOf (scan.devices, model);
            const juce::String name (modelDisplayName (model));
            if (after > before)
                sendNotification (name + " connected.");
            else if (after < before)
                sendNotification (name + " disconnected.");
        }

        auto oldCount = [] (const std::vector<DetectedDevice>& list) {
            return std::count_if (list.begin(), list.end(), [] (const DetectedDevice& d) { return d.oldFirmware; });
        };
        if (oldCount (scan.devices) > oldCount (detectedDevices))
            sendNotification ("An old Tactora was connected, please update its firmware");
    }

    detectedDevices = scan.devices;
    detectedDeviceNames = scan.names;
    typeNamesOfDetected = scan.typeNames;
    publishSelectedModel();

    if (firstKnown < 0)
        return;

    if (detectedDeviceNames.contains (audioSetup.outputDeviceName))
    {
        if (! (audioActive.load() && deviceManager.getCurrentAudioDevice() == nullptr))
            return;
    }
    else
    {
        audioSetup.outputDeviceName = detectedDeviceNames[firstKnown];
        publishSelectedModel();
        if (! audioActive.load())
            return;
    }

    const std::lock_guard<std::mutex> lock (setupLock);
    if (deviceManager.getCurrentAudioDevice() != nullptr)
        deviceTypeUpdateNeeded = true;
    applySetup();
}

bool AudioAndMIDIHandler::selectDeviceByName (const juce::String& name)
{
    if (! detectedDeviceNames.contains (name))
        return false;

    audioSetup.outputDeviceName = name;
    publishSelectedModel();

    if (audioActive.load())
    {
        if (deviceManager.getCurrentAudioDevice() != nullptr)
            deviceTypeUpdateNeeded = true;
        applySetup();
    }
    return true;
}

void AudioAndMIDIHandler::applySetup()
{
    const int index = detectedDeviceNames.indexOf (audioSetup.outputDeviceName);
    const auto typeName = typeNamesOfDetected[index];

    // The error text is of no use to anyone: the output stays closed until
    // the next device change, selection or plug-in arrival.
    changingOutput = true;
    if (typeName.isNotEmpty() && deviceManager.getCurrentAudioDeviceType() != typeName)
        deviceManager.setCurrentAudioDeviceType (typeName, false);
    deviceManager.setAudioDeviceSetup (audioSetup, false);
    changingOutput = false;
}

void AudioAndMIDIHandler::publishSelectedModel() noexcept
{
    const int i = detectedDeviceNames.indexOf (audioSetup.outputDeviceName);
    const bool valid = i >= 0 && static_cast<size_t> (i) < detectedDevices.size();
    selectedOutputModel = valid ? detectedDevices[static_cast<size_t> (i)].deviceType : SharedMemory::invalid;
}

void AudioAndMIDIHandler::sendNotification (const juce::String& message)
{
    // The notifier belongs to the application and outlives every engine.
    juce::MessageManager::callAsync ([target = &notifier, message] { target->show (message); });
}

} // namespace veltro::daemon
