#pragma once

// The handle each side keeps on the shared block and its named semaphore.
// The daemon creates and unlinks the objects; plug-ins only open them.

#include "SharedMemory.h"

#include <semaphore.h>
#include <string>

namespace veltro
{

struct ChannelNames
{
    std::string sharedMemory = kSharedMemoryName;
    std::string semaphore = kSemaphoreName;
};

class SharedMemoryHandler
{
public:
    static constexpr int kLockTimeoutMs = 250;

    enum open_state_enum : int32_t
    {
        nothingOpen = 0,
        descriptorOpen = 1,
        blockMapped = 2,
        ready = 3,
    };

    // The real names by default; tests pass their own so they never disturb a
    // running daemon and can run in parallel.
    explicit SharedMemoryHandler (ChannelNames names = {});
    ~SharedMemoryHandler();

    SharedMemoryHandler (const SharedMemoryHandler&) = delete;
    SharedMemoryHandler& operator= (const SharedMemoryHandler&) = delete;

    // Daemon: creates (replacing stale objects), zeroes and initialises the
    // block, and leaves the lock free. True when openState reached 3.
    bool createAndInitialise();

    // Plug-in: opens existing objects. A missing object, or one shorter than
    // the block (a crashed or foreign writer), counts as "daemon not running".
    bool openExisting();

    // Releases in reverse order; stops at the first failing call.
    bool close (bool unlinkNames);

    // Busy-waits up to kLockTimeoutMs for the token; after the deadline it
    // proceeds as if it held the lock. On a semaphore error it closes the
    // handle (unlinking when `unlinkOnError`) and returns false.
    bool tryLock (bool unlinkOnError = false) noexcept;
    void unlock() noexcept;

    int32_t getOpenState() const noexcept { return openState.load(); }
    bool isReady() const noexcept { return openState.load() == ready; }
    SharedMemory* getMemory() const noexcept { return isReady() ? memory : nullptr; }
    const ChannelNames& getNames() const noexcept { return names; }

    // The inode of the open object, so a client can tell when the name now
    // refers to a newer object than the one it has mapped.
    bool refersToCurrentObject() const noexcept;

private:
    bool closeNoexcept (bool unlinkNames) noexcept;

    ChannelNames names;
    RelaxedValue<int32_t> openState { nothingOpen };
    RelaxedValue<int32_t> fileDescriptor { -1 };
    SharedMemory* memory = nullptr;
    sem_t* semaphore = nullptr;
};

} // namespace veltro
