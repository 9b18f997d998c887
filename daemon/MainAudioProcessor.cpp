#include "MainAudioProcessor.h"

#include <juce_events/juce_events.h>

namespace veltro::daemon
{

namespace
{
SyncCode::System thisSystem()
{
    return systemForOperatingSystemBits (static_cast<int> (juce::SystemStats::getOperatingSystemType()));
}
} // namespace

MainAudioProcessor::MainAudioProcessor (DesktopNotifier& notifier, Options options)
    : sharedMemory (options.names),
      deviceHandler ((sharedMemory.createAndInitialise(), *this), notifier, std::move (options.system)),
      playout (thisSystem()),
      requestQuit (std::move (options.requestQuit)),
      ticksDrivenByCaller (options.ticksDrivenByCaller)
{
    if (! requestQuit)
        requestQuit = [] {
            if (auto* app = juce::JUCEApplicationBase::getInstance())
                app->systemRequestedQuit();
        };

    if (sharedMemory.isReady())
        scheduleNextTick();
    else
        requestQuit();
}

MainAudioProcessor::~MainAudioProcessor()
{
    stopTimer();
    playout.playoutSuspended = true;

    // Written without the lock: the plug-in may be holding it, and this is
    // the last word the daemon says.
    if (auto* m = sharedMemory.getMemory())
        m->daemonState.store (SharedMemory::daemonShutDown);

    deviceHandler.deviceManager.closeAudioDevice();
    sharedMemory.close (true);
}

void MainAudioProcessor::scheduleNextTick()
{
    // A timer that keeps running ticks every 300 ms just the same, and does
    // not wake the framework's timer thread twice more per tick.
    if (! ticksDrivenByCaller && ! isTimerRunning())
        startTimer (kTimerMs);
}

void MainAudioProcessor::quitOnLockError()
{
    stopTimer();
    sharedMemory.close (true);
    juce::MessageManager::callAsync ([quit = requestQuit] { quit(); });
}

void MainAudioProcessor::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    if (info.buffer == nullptr || info.numSamples <= 0 || info.buffer->getNumChannels() < 1)
        return;

    info.buffer->clear (info.startSample, info.numSamples);
    float* out = info.buffer->getWritePointer (0, info.startSample);
    const int n = info.numSamples;

    if (playout.playoutSuspended.load())
        return;

    if (! sharedMemory.tryLock (true))
    {
        // The failed lock has closed the handle and removed the names. The
        // quit is asked for by the next tick, whose lock now fails too: the
        // audio thread posts no message (that would allocate).
        playout.playoutSuspended = true;
        return;
    }

    auto& m = *sharedMemory.getMemory();
    if (deviceHandler.deviceManager.getCurrentAudioDevice() == nullptr)
    {
        sharedMemory.unlock();
        return;
    }

    const auto outcome = playout.processLocked (m, out, n, deviceHandler.deviceTypeUpdateNeeded,
                                                deviceHandler.selectedOutputModel.load());
    sharedMemory.unlock();
    playout.finishBlock (outcome, out, n);
}

void MainAudioProcessor::timerCallback()
{
    const bool hasDevice = deviceHandler.deviceManager.getCurrentAudioDevice() != nullptr;
    const bool lostBetweenTicks = outputLostSinceLastTick.load();
    outputLostSinceLastTick = false;
    if ((hadAudioDevice && ! hasDevice) || lostBetweenTicks)
        playout.playoutSuspended = true;
    hadAudioDevice = hasDevice;

    if (! playout.playoutSuspended.load())
    {
        scheduleNextTick();
        return;
    }

    if (! sharedMemory.tryLock (true))
    {
        quitOnLockError();
        return;
    }

    auto& m = *sharedMemory.getMemory();
    const auto c = m.daemonState.load();
    const auto d = m.pluginEnabled.load();
    m.deviceType.store (deviceHandler.selectedOutputModel.load());

    if (lostBetweenTicks && c == SharedMemory::daemonRunning)
    {
        // As if this tick had found the output missing; the next one resumes
        // playout, and its first callback sends the burst again.
        m.daemonState.store (SharedMemory::daemonSettingUp);
        sharedMemory.unlock();
        scheduleNextTick();
        return;
    }

    switch (decideTimerAction (c, hasDevice, d))
    {
        case TimerAction::setUpOutput: setUpOutput (m); return;
        case TimerAction::closeOutput: closeOutput (m); return;
        case TimerAction::markOutputLost: m.daemonState.store (SharedMemory::daemonSettingUp); break;
        case TimerAction::resumePlayout: playout.playoutSuspended = false; break;
        case TimerAction::nothing: break;
    }

    sharedMemory.unlock();
    scheduleNextTick();
}

void MainAudioProcessor::releaseResources()
{
    if (closingOutputOurselves.load() || deviceHandler.changingOutput.load())
        return;

    // Silent at once: the output may be open again before the next tick, and
    // a returning device must hear the burst before anything else.
    playout.playoutSuspended = true;
    outputLostSinceLastTick = true;
}

void MainAudioProcessor::setUpOutput (SharedMemory& m)
{
    dawConnected = true;

    m.daemonState.store (SharedMemory::daemonSettingUp);
    m.sampleRateChanged.store (0);
    const auto nominal = m.nominalBlockSize.load();
    const auto actual = m.actualBlockSize.load();
    m.blockSizeChanged.store (0);
    fifo::reset (m);
    const bool is44100 = m.sampleRateIs44100.load() == 1;
    sharedMemory.unlock();

    // The callback is suspended, so it does not touch the controller now.
    playout.prepareForSetup (nominal, actual);

    {
        const std::lock_guard<std::mutex> lock (deviceHandler.setupLock);
        deviceHandler.audioSetup.sampleRate = is44100 ? 44100.0 : 48000.0;
        deviceHandler.audioActive = true;

        const auto& list = deviceHandler.detectedDevices;
        if (! list.empty() && list.front().deviceType != SharedMemory::invalid)
        {
            if (deviceHandler.deviceManager.getCurrentAudioDevice() != nullptr)
                deviceHandler.deviceTypeUpdateNeeded = true;
            deviceHandler.applySetup();
        }
    }

    if (deviceHandler.deviceManager.getCurrentAudioDevice() != nullptr)
        playout.playoutSuspended = false;
    scheduleNextTick();
}

void MainAudioProcessor::closeOutput (SharedMemory& m)
{
    m.daemonState.store (SharedMemory::daemonIdle);
    sharedMemory.unlock();

    {
        const std::lock_guard<std::mutex> lock (deviceHandler.setupLock);
        deviceHandler.audioSetup.sampleRate = 48000.0;
        deviceHandler.audioActive = false;
        closingOutputOurselves = true;
        deviceHandler.deviceManager.closeAudioDevice();
        closingOutputOurselves = false;
    }

    scheduleNextTick();
    dawConnected = false;
}

} // namespace veltro::daemon
