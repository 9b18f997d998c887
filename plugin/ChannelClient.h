#pragma once

// The plug-in's side of the channel to the daemon: opening the block, claiming
// it, announcing the rate and block size, following the daemon's state every
// block and copying due codes into the FIFO. JUCE-free; the processor drives it.

#include "SharedMemoryHandler.h"
#include "SyncEncoder.h"

namespace veltro
{

enum plugin_status_enum : int
{
    daemonNotRunning = 0,
    noDevice = 1,
    active = 2,
    anotherInstance = 3,
    communicationError = 5,
};

// What the plug-in announces to the daemon.
struct Announcement
{
    double currentSampleRate = 44100.0;
    int rateDivider = 1;
    int announcedBlockSize = 256;
};

// Block size announced to the daemon: in sync samples, except that one host
// wants its host block size and another doubles its 1024-sample blocks.
int computeAnnouncedBlockSize (int hostId, int maxBlockSize, int rateDivider) noexcept;

class ChannelClient
{
public:
    explicit ChannelClient (ChannelNames names = {});
    ~ChannelClient();

    // The host identifier published with a claim (low 16 bits).
    void setHostType (int hostId) noexcept { hostType = hostId; }

    // ---- message thread ----

    // (Re)opens the block when needed and claims the channel when it is free.
    void tryToReenablePluginInstance();

    // The full announcement: rate, block sizes, pluginEnabled 2.
    void announce (const Announcement& a) noexcept;

    // From prepareToPlay: a new rate is announced in full; an unchanged rate
    // with a new block size only re-announces the block size.
    void announceFromPrepare (const Announcement& a) noexcept;

    // The 500 ms timer's work while the instance is disabled. Returns true when
    // it should keep retrying.
    bool retryWhileDisabled (int64_t lastProcessBlockTimeMs, const Announcement& a);

    // Gives the channel up, but only when this instance owns it: an idle second
    // instance going away must not stop the owner's stream.
    void releaseChannel() noexcept;

    // Called every timer period while the instance is enabled. A daemon that was
    // killed leaves its block behind with daemonState 3: nobody drains the FIFO
    // any more, and a restarted daemon creates a new object under the same name.
    // Seeing a new (or no) object there makes the next block close the stale
    // handle so the retry path reopens; a FIFO that stays undrained shows as
    // "no device" instead of a link that is not there.
    void checkChannelHealth (int64_t nowMs);
    static constexpr int64_t kStalledConsumerMs = 1000;

    // ---- audio thread ----

    // The handshake step of a block. Returns true when the block goes on to be
    // generated and sent; false when it ends here. `blockSyncSamples` is the
    // block length the host delivers, in sync samples.
    bool processHandshake (SyncEncoder& encoder, int blockSyncSamples, const Announcement& a) noexcept;

    // Copies up to n due codes from the encoder's ring into the FIFO.
    void sendDataToSharedMemory (SyncEncoder& encoder, int n) noexcept;

    // The unlocked pre-check of a bypassed block: true when the channel is free.
    bool channelLooksFree() const noexcept;

    // Lock with the plug-in's error reaction (status 5, disabled, handle closed).
    bool tryLockingSharedMemory() noexcept;

    // ---- state for the processor and the editor ----
    bool isInstanceDisabled() const noexcept { return instanceDisabled.load(); }
    void setInstanceDisabled (bool d) noexcept { instanceDisabled.store (d); }
    int getPluginStatus() const noexcept { return pluginStatus.load(); }
    int getDeviceType() const noexcept { return deviceType.load(); }
    int getInstanceId() const noexcept { return instanceId.load(); }
    SharedMemoryHandler& getHandler() noexcept { return sharedMemory; }

private:
    void writeAnnouncement (SharedMemory& m, const Announcement& a) noexcept;

    SharedMemoryHandler sharedMemory;
    int hostType = 0;
    RelaxedValue<bool> instanceDisabled { true };
    RelaxedValue<int> instanceId { 0 };
    RelaxedValue<int> pluginStatus { daemonNotRunning };
    RelaxedValue<int> deviceType { SharedMemory::invalid };
    RelaxedValue<double> lastSampleRateInSharedMem { 0.0 };

    // Health watch (message thread, plus the flag the audio thread reads).
    uint32_t lastSeenReadIndex = 0;
    int64_t lastReadIndexMoveMs = 0;
    RelaxedValue<bool> consumerStalled { false };
    RelaxedValue<bool> staleBlock { false };
};

} // namespace veltro
