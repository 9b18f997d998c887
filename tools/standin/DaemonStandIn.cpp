#include "DaemonStandIn.h"

#include "SyncCodes.h"

#include <algorithm>

namespace veltro
{

DaemonStandIn::DaemonStandIn (ChannelNames names)
    : handler (std::move (names)),
      readBuffer (kFifoSize, SyncCode::silence)
{
}

DaemonStandIn::~DaemonStandIn()
{
    shutDown();
}

bool DaemonStandIn::create()
{
    if (handler.getOpenState() != SharedMemoryHandler::nothingOpen)
        shutDown();

    outputOpen = false;
    playoutSuspended = true;
    dawConnected = false;
    idleCallbackCount = 0;
    deviceTypeUpdateNeeded = false;

    if (! handler.createAndInitialise())
        return false;

    // The daemon reports its device from the first timer run; until then the
    // block keeps the 0 of creation, which happens to be a real model.
    if (lock())
    {
        handler.getMemory()->deviceType.store (deviceType);
        handler.unlock();
    }

    return handler.isReady();
}

bool DaemonStandIn::lock() noexcept
{
    if (handler.tryLock (true))
        return true;

    lostTheLock();
    return false;
}

void DaemonStandIn::lostTheLock() noexcept
{
    // tryLock(true) has closed the handle and unlinked the names, as the daemon
    // does before it quits.
    outputOpen = false;
    playoutSuspended = true;
}

bool DaemonStandIn::wantsSetUp (int daemonState, int pluginEnabled, bool open) noexcept
{
    return pluginEnabled == SharedMemory::channelAnnounced
           && (daemonState == SharedMemory::daemonIdle || (daemonState == SharedMemory::daemonRunning && open));
}

bool DaemonStandIn::wantsClose (int daemonState, int pluginEnabled, bool open) noexcept
{
    return pluginEnabled == SharedMemory::channelFree
           && ((open && daemonState != SharedMemory::daemonSettingUp) || (! open && daemonState == SharedMemory::daemonSettingUp));
}

void DaemonStandIn::setUpOutputLocked (SharedMemory& m)
{
    dawConnected = true;
    m.daemonState.store (SharedMemory::daemonSettingUp);
    m.sampleRateChanged.store (0);
    pluginNominalBlockSize = m.nominalBlockSize.load();
    pluginActualBlockSize = m.actualBlockSize.load();
    m.blockSizeChanged.store (0);
    fifo::reset (m);
    const bool at44100 = m.sampleRateIs44100.load() == 1;
    handler.unlock();

    outputSampleRate = at44100 ? kOutputRate44100 : kOutputRate48000;

    // Without a known device the daemon has nothing to open; it stays in 2
    // and the plug-in keeps reporting that no device is connected.
    if (deviceType == SharedMemory::invalid)
        return;

    if (outputOpen)
        deviceTypeUpdateNeeded = true;

    outputOpen = true;
    playoutSuspended = false;
    setUpCount.fetch_add (1, std::memory_order_relaxed);
}

void DaemonStandIn::closeOutputLocked (SharedMemory& m)
{
    m.daemonState.store (SharedMemory::daemonIdle);
    handler.unlock();

    outputOpen = false;
    outputSampleRate = kOutputRate48000;
    dawConnected = false;
}

bool DaemonStandIn::setUpOutputIfAnnounced()
{
    if (! lock())
        return false;

    auto& m = *handler.getMemory();

    if (! wantsSetUp (m.daemonState.load(), m.pluginEnabled.load(), outputOpen))
    {
        handler.unlock();
        return false;
    }

    setUpOutputLocked (m);
    return true;
}

bool DaemonStandIn::closeOutputIfFree()
{
    if (! lock())
        return false;

    auto& m = *handler.getMemory();

    if (! wantsClose (m.daemonState.load(), m.pluginEnabled.load(), outputOpen))
    {
        handler.unlock();
        return false;
    }

    closeOutputLocked (m);
    return true;
}

void DaemonStandIn::timerTick()
{
    // The timer leaves a running playout alone; the callback suspends it first.
    if (! playoutSuspended || ! handler.isReady())
        return;

    if (! lock())
        return;

    auto& m = *handler.getMemory();
    const int state = m.daemonState.load();
    const int enabled = m.pluginEnabled.load();
    // The model of the configured output, whether or not it is open.
    m.deviceType.store (deviceType);

    if (wantsSetUp (state, enabled, outputOpen))
        return setUpOutputLocked (m);

    if (wantsClose (state, enabled, outputOpen))
        return closeOutputLocked (m);

    if (state == SharedMemory::daemonRunning && ! outputOpen)
        m.daemonState.store (SharedMemory::daemonSettingUp);
    else if (state == SharedMemory::daemonSettingUp && outputOpen)
        playoutSuspended = false;

    handler.unlock();
}

DaemonStandIn::CallbackResult DaemonStandIn::giveUpIfOutOfPatience (SharedMemory& m, Callback otherwise) noexcept
{
    const int waitedBefore = idleCallbackCount++;

    if (waitedBefore < kPatienceCallbacks)
        return { otherwise, 0 };

    m.pluginEnabled.store (SharedMemory::channelFree);
    idleCallbackCount = 0;
    playoutSuspended = true;
    giveUpCount.fetch_add (1, std::memory_order_relaxed);
    return { Callback::gaveUp, 0 };
}

DaemonStandIn::CallbackResult DaemonStandIn::runCallback (int samples, CodeSink* sink) noexcept
{
    if (! outputOpen)
        return { Callback::noOutput, 0 };

    if (playoutSuspended)
        return { Callback::suspended, 0 };

    if (! lock())
        return { Callback::lockFailed, 0 };

    auto& m = *handler.getMemory();
    const int oldState = m.daemonState.load();

    if (oldState != SharedMemory::daemonRunning)
        m.daemonState.store (SharedMemory::daemonRunning);

    const int enabled = m.pluginEnabled.load();

    if (enabled == SharedMemory::channelFree
        || (enabled == SharedMemory::channelAnnounced && m.sampleRateChanged.load() == 1))
    {
        playoutSuspended = true;
        handler.unlock();
        return { Callback::stoppedPlayout, 0 };
    }

    bool burst = oldState != SharedMemory::daemonRunning;

    if (deviceTypeUpdateNeeded)
    {
        deviceTypeUpdateNeeded = false;
        m.deviceType.store (deviceType);
        fifo::reset (m);
        burst = true;
    }

    if (burst)
    {
        CallbackResult result { Callback::identification, 0 };

        if (samples <= kShortestBurstCallback)
        {
            m.daemonState.store (SharedMemory::daemonSettingUp);
            result.outcome = Callback::burstDidNotFit;
        }
        else
        {
            identificationCount.fetch_add (1, std::memory_order_relaxed);
        }

        handler.unlock();
        return result;
    }

    if (enabled == SharedMemory::channelAnnounced)
    {
        const auto result = giveUpIfOutOfPatience (m, Callback::waitingForConfirmation);
        handler.unlock();
        return result;
    }

    if (enabled != SharedMemory::channelStreaming)
    {
        handler.unlock();
        return { Callback::claimedOnly, 0 };
    }

    if (m.blockSizeChanged.load() != 0)
    {
        pluginNominalBlockSize = m.nominalBlockSize.load();
        pluginActualBlockSize = m.actualBlockSize.load();
        m.blockSizeChanged.store (0);
    }

    if (fifo::available (fifo::loadWriteIndex (m), fifo::loadReadIndex (m)) == 0)
    {
        const auto result = giveUpIfOutOfPatience (m, Callback::played);
        handler.unlock();
        return result;
    }

    idleCallbackCount = 0;
    const auto wanted = static_cast<uint32_t> (std::clamp (samples, 0, static_cast<int> (readBuffer.size())));
    const auto taken = static_cast<int> (fifo::read (m, readBuffer.data(), wanted));
    handler.unlock();

    totalCodesRead.fetch_add (static_cast<uint64_t> (taken), std::memory_order_relaxed);

    if (sink != nullptr && taken > 0)
        sink->receiveCodes (readBuffer.data(), taken);

    return { Callback::played, taken };
}

void DaemonStandIn::setDeviceType (int type)
{
    if (type == deviceType)
        return;

    deviceType = type;

    if (outputOpen)
        deviceTypeUpdateNeeded = true;
}

void DaemonStandIn::shutDown()
{
    if (auto* m = handler.getMemory())
        m->daemonState.store (SharedMemory::daemonShutDown);

    if (handler.getOpenState() != SharedMemoryHandler::nothingOpen)
        handler.close (true);

    outputOpen = false;
    playoutSuspended = true;
    dawConnected = false;
}

void DaemonStandIn::setSamplesPerCallback (int samples) noexcept
{
    samplesPerCallback = std::clamp (samples, 1, static_cast<int> (kFifoSize));
}

int DaemonStandIn::outputSamplesPerTimerTick() const noexcept
{
    return static_cast<int> (outputSampleRate * kTimerPeriodMs / 1000.0);
}

DaemonStandIn::PumpResult DaemonStandIn::pump (int samples, CodeSink* sink) noexcept
{
    PumpResult result;
    const int64_t end = pumpClock + std::max (samples, 0);

    // Timer ticks and callbacks in time order; a tick due at the same sample as
    // a callback runs first.
    for (;;)
    {
        const bool timerFirst = nextTimerTick <= nextCallback;
        const int64_t due = timerFirst ? nextTimerTick : nextCallback;

        if (due >= end)
            break;

        if (timerFirst)
        {
            timerTick();
            ++result.timerTicks;
            nextTimerTick += outputSamplesPerTimerTick();
        }
        else
        {
            result.codesRead += runCallback (samplesPerCallback, sink).codesRead;
            ++result.callbacks;
            nextCallback += samplesPerCallback;
        }
    }

    pumpClock = end;
    return result;
}

} // namespace veltro
