#include "ChannelClient.h"

#include "HostIds.h"
#include "MillisecondClock.h"

#include <algorithm>

namespace veltro
{

namespace
{
    constexpr double kSampleRate44100 = 44100.0;
    constexpr int64_t kNotProcessingAfterMs = 249;
    constexpr double kMinTempo = 30.0;
    constexpr double kMaxTempoClickDevices = 400.0;
    constexpr double kMaxTempoOtherDevices = 250.0;
    constexpr int kDoubledBlockSize = 1024;
} // namespace

int computeAnnouncedBlockSize (int hostId, int maxBlockSize, int rateDivider) noexcept
{
    if (HostId::isProTools (hostId))
        return maxBlockSize;

    const int divider = rateDivider > 0 ? rateDivider : 1;
    const int syncBlock = maxBlockSize / divider;

    if (HostId::isBitwig (hostId) && maxBlockSize == kDoubledBlockSize)
        return syncBlock * 2;

    return syncBlock;
}

ChannelClient::ChannelClient (ChannelNames names) : sharedMemory (std::move (names))
{
    sharedMemory.openExisting();
}

ChannelClient::~ChannelClient()
{
    sharedMemory.close (false);
}

bool ChannelClient::tryLockingSharedMemory() noexcept
{
    if (! sharedMemory.isReady())
        return false;

    if (sharedMemory.tryLock (false))
        return true;

    // tryLock closed the handle after a semaphore error.
    instanceDisabled.store (true);
    pluginStatus.store (communicationError);
    return false;
}

void ChannelClient::tryToReenablePluginInstance()
{
    if (! sharedMemory.isReady())
    {
        sharedMemory.close (false);
        sharedMemory.openExisting();

        if (! sharedMemory.isReady())
        {
            pluginStatus.store (daemonNotRunning);
            return;
        }
    }

    auto& m = *sharedMemory.getMemory();

    if (m.pluginEnabled.load() != SharedMemory::channelFree)
    {
        pluginStatus.store (anotherInstance);
        return;
    }

    if (! tryLockingSharedMemory())
        return;

    if (m.pluginEnabled.load() != SharedMemory::channelFree)
    {
        sharedMemory.unlock();
        pluginStatus.store (anotherInstance);
        return;
    }

    m.hostType.store (static_cast<uint16_t> (hostType & 0xFFFF));
    m.pluginEnabled.store (SharedMemory::channelClaimed);
    const int claimNumber = m.instanceCounter.load() + 1;
    m.instanceCounter.store (claimNumber);
    instanceId.store (claimNumber);
    sharedMemory.unlock();

    pluginStatus.store (noDevice);
    instanceDisabled.store (false);
}

void ChannelClient::writeAnnouncement (SharedMemory& m, const Announcement& a) noexcept
{
    lastSampleRateInSharedMem.store (a.currentSampleRate);
    const int divider = a.rateDivider > 0 ? a.rateDivider : 1;
    m.sampleRateIs44100.store (a.currentSampleRate / divider == kSampleRate44100 ? 1 : 0);
    m.nominalBlockSize.store (a.announcedBlockSize);
    m.actualBlockSize.store (a.announcedBlockSize);
    m.sampleRateChanged.store (1);
    m.pluginEnabled.store (SharedMemory::channelAnnounced);
}

void ChannelClient::announce (const Announcement& a) noexcept
{
    if (! tryLockingSharedMemory())
        return;

    writeAnnouncement (*sharedMemory.getMemory(), a);
    sharedMemory.unlock();
}

void ChannelClient::announceFromPrepare (const Announcement& a) noexcept
{
    if (! tryLockingSharedMemory())
        return;

    auto& m = *sharedMemory.getMemory();

    // Only the owner speaks for the channel: a waiting instance that the host
    // prepares must not make the daemon set its output up again, which would
    // throw away the owner's codes in the FIFO and interrupt its stream.
    if (instanceDisabled.load() || m.instanceCounter.load() != instanceId.load())
    {
        sharedMemory.unlock();
        return;
    }

    if (lastSampleRateInSharedMem.load() != a.currentSampleRate)
    {
        writeAnnouncement (m, a);
    }
    else if (m.nominalBlockSize.load() != a.announcedBlockSize)
    {
        m.nominalBlockSize.store (a.announcedBlockSize);
        m.actualBlockSize.store (a.announcedBlockSize);
        m.blockSizeChanged.store (1);
    }

    sharedMemory.unlock();
}

bool ChannelClient::retryWhileDisabled (int64_t lastProcessBlockTimeMs, const Announcement& a)
{
    if (! instanceDisabled.load())
        return false;

    // Only an instance the host is processing may take the channel.
    if (millisecondClock() - lastProcessBlockTimeMs > kNotProcessingAfterMs)
        return true;

    tryToReenablePluginInstance();

    if (! instanceDisabled.load())
        announce (a);

    return instanceDisabled.load();
}

void ChannelClient::releaseChannel() noexcept
{
    if (! tryLockingSharedMemory())
        return;

    auto& m = *sharedMemory.getMemory();
    const bool ownsChannel = instanceId.load() != 0 && m.instanceCounter.load() == instanceId.load();

    if (ownsChannel)
        m.pluginEnabled.store (SharedMemory::channelFree);

    sharedMemory.unlock();
}

void ChannelClient::checkChannelHealth (int64_t nowMs)
{
    if (instanceDisabled.load() || ! sharedMemory.isReady())
        return;

    if (! sharedMemory.refersToCurrentObject())
    {
        // The daemon behind this block is gone and a new one (or none) owns the
        // name. The audio thread may be using the mapping right now, so it is
        // the one that closes it, at its next block.
        staleBlock.store (true);
        return;
    }

    const auto& m = *sharedMemory.getMemory();
    const auto readIndex = fifo::loadReadIndex (m);
    const bool waitingForDrain = m.daemonState.load() == SharedMemory::daemonRunning
                                 && fifo::available (fifo::loadWriteIndex (m), readIndex) > 0;

    if (readIndex != lastSeenReadIndex || ! waitingForDrain)
    {
        lastSeenReadIndex = readIndex;
        lastReadIndexMoveMs = nowMs;
        consumerStalled.store (false);
        return;
    }

    if (nowMs - lastReadIndexMoveMs >= kStalledConsumerMs)
    {
        consumerStalled.store (true);
        pluginStatus.store (noDevice);
    }
}

bool ChannelClient::channelLooksFree() const noexcept
{
    const auto* m = sharedMemory.getMemory();
    return m != nullptr && m->pluginEnabled.load() == SharedMemory::channelFree;
}

bool ChannelClient::processHandshake (SyncEncoder& encoder, int blockSyncSamples, const Announcement& a) noexcept
{
    if (staleBlock.load())
    {
        // Nobody will post this semaphore any more: close without the lock.
        // What waits in the ring was meant for the dead daemon (and may have
        // been overwritten while nobody drained the FIFO): the new daemon gets
        // a fresh stream, starting with a start code.
        encoder.restartStream();
        staleBlock.store (false);
        consumerStalled.store (false);
        sharedMemory.close (false);
        instanceDisabled.store (true);
        pluginStatus.store (daemonNotRunning);
        deviceType.store (SharedMemory::invalid);
        return false;
    }

    if (! tryLockingSharedMemory())
        return false;

    auto& m = *sharedMemory.getMemory();

    // The daemon is still taking over a new rate.
    if (m.sampleRateChanged.load() == 1)
    {
        sharedMemory.unlock();
        return false;
    }

    const int state = m.daemonState.load();

    if (state == SharedMemory::daemonShutDown)
    {
        // The daemon has gone and unlinked the semaphore: close without posting.
        sharedMemory.close (false);
        instanceDisabled.store (true);
        pluginStatus.store (daemonNotRunning);
        deviceType.store (SharedMemory::invalid);
        return false;
    }

    if (state == SharedMemory::daemonRunning)
    {
        if (instanceId.load() != m.instanceCounter.load())
        {
            sharedMemory.unlock();
            instanceDisabled.store (true);
            pluginStatus.store (anotherInstance);
            return false;
        }

        pluginStatus.store (consumerStalled.load() ? noDevice : active);

        const int reportedDevice = m.deviceType.load();
        if (reportedDevice != deviceType.load())
            encoder.forceTempoAndTimeSignature();

        deviceType.store (reportedDevice);
        const bool clickDevice = reportedDevice == SharedMemory::tactora || reportedDevice == SharedMemory::klavo2;
        encoder.setTempoRange (kMinTempo, clickDevice ? kMaxTempoClickDevices : kMaxTempoOtherDevices);

        if (m.pluginEnabled.load() == SharedMemory::channelAnnounced)
            m.pluginEnabled.store (SharedMemory::channelStreaming);

        if (m.actualBlockSize.load() != blockSyncSamples)
        {
            m.actualBlockSize.store (blockSyncSamples);
            m.blockSizeChanged.store (1);
        }

        sharedMemory.unlock();
        return true;
    }

    // Daemon idle or setting up its output.
    const int enabled = m.pluginEnabled.load();
    sharedMemory.unlock();
    pluginStatus.store (noDevice);

    if (enabled == SharedMemory::channelFree)
    {
        // The daemon freed the channel while we still think we hold it.
        encoder.forceTempoAndTimeSignature();
        announce (a);
    }

    return false;
}

void ChannelClient::sendDataToSharedMemory (SyncEncoder& encoder, int n) noexcept
{
    if (n <= 0 || ! tryLockingSharedMemory())
        return;

    auto& m = *sharedMemory.getMemory();
    const auto w = fifo::loadWriteIndex (m);
    const auto room = fifo::freeSpace (w, fifo::loadReadIndex (m));
    const auto count = static_cast<uint32_t> (n) < room ? static_cast<uint32_t> (n) : room;

    // Copied in at most two pieces (the FIFO wraps once at most), so the lock
    // is held for little more than a memcpy of the block.
    for (uint32_t done = 0; done < count;)
    {
        const auto slot = fifo::writeSlot (w, done);
        const auto chunk = std::min (count - done, kFifoSize - slot);
        encoder.takeCodes (&m.samples[slot], static_cast<int> (chunk));
        done += chunk;
    }

    m.writeIndex.store (fifo::advance (w, count));
    sharedMemory.unlock();
}

} // namespace veltro
