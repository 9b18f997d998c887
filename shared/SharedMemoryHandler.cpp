#include "SharedMemoryHandler.h"

#include "MillisecondClock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltro
{

namespace
{
    constexpr mode_t kObjectMode = 0644;
}

SharedMemoryHandler::SharedMemoryHandler (ChannelNames channelNames) : names (std::move (channelNames)) {}

SharedMemoryHandler::~SharedMemoryHandler()
{
    // An owner that forgot to close must not leak the mapping; never unlink here,
    // only the daemon decides that.
    closeNoexcept (false);
}

bool SharedMemoryHandler::createAndInitialise()
{
    openState.store (nothingOpen);
    fileDescriptor = -1;
    memory = nullptr;
    semaphore = nullptr;

    constexpr int createFlags = O_RDWR | O_CREAT | O_TRUNC | O_EXCL;
    int fd = shm_open (names.sharedMemory.c_str(), createFlags, kObjectMode);

    if (fd == -1)
    {
        // A daemon that crashed left its object behind: replace it.
        if (errno != EEXIST || shm_unlink (names.sharedMemory.c_str()) == -1)
            return false;

        fd = shm_open (names.sharedMemory.c_str(), createFlags, kObjectMode);
        if (fd == -1)
            return false;
    }

    fileDescriptor = fd;
    openState.store (descriptorOpen);

    if (ftruncate (fd, static_cast<off_t> (kSharedMemorySize)) == -1)
        return false;

    void* mapping = mmap (nullptr, kSharedMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED)
        return false;

    memory = static_cast<SharedMemory*> (mapping);
    openState.store (blockMapped);

    sem_t* sem = sem_open (names.semaphore.c_str(), O_CREAT, kObjectMode, 0);
    if (sem == SEM_FAILED)
        return false;

    semaphore = sem;

    // A left-over semaphore may still hold its token; take it so we end at count 1.
    if (sem_trywait (sem) == -1 && errno != EAGAIN)
        return false;

    openState.store (ready);
    initialiseSharedMemory (*memory);
    sem_post (sem);
    return true;
}

bool SharedMemoryHandler::openExisting()
{
    const int fd = shm_open (names.sharedMemory.c_str(), O_RDWR, 0);
    fileDescriptor = fd;
    if (fd == -1)
        return false;

    openState.store (descriptorOpen);

    // Mapping an object shorter than the block would fault on first access.
    struct stat info {};
    if (fstat (fd, &info) == -1 || info.st_size < static_cast<off_t> (kSharedMemorySize))
        return false;

    void* mapping = mmap (nullptr, kSharedMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED)
        return false;

    memory = static_cast<SharedMemory*> (mapping);
    openState.store (blockMapped);

    sem_t* sem = sem_open (names.semaphore.c_str(), 0);
    if (sem == SEM_FAILED)
        return false;

    semaphore = sem;
    openState.store (ready);
    return true;
}

bool SharedMemoryHandler::close (bool unlinkNames)
{
    return closeNoexcept (unlinkNames);
}

bool SharedMemoryHandler::closeNoexcept (bool unlinkNames) noexcept
{
    const auto state = openState.load();

    if (state >= ready)
    {
        if (sem_close (semaphore) == -1)
            return false;
        semaphore = nullptr;

        if (unlinkNames && sem_unlink (names.semaphore.c_str()) == -1)
            return false;
    }

    if (state >= blockMapped)
    {
        if (munmap (memory, kSharedMemorySize) == -1)
            return false;
        memory = nullptr;
    }

    if (state >= descriptorOpen)
    {
        if (::close (fileDescriptor) == -1)
            return false;
        fileDescriptor = -1;

        if (unlinkNames && shm_unlink (names.sharedMemory.c_str()) == -1)
            return false;
    }

    openState.store (nothingOpen);
    return true;
}

bool SharedMemoryHandler::tryLock (bool unlinkOnError) noexcept
{
    if (openState.load() != ready)
        return false;

    // The lock is almost always free: take it without reading the clock.
    if (sem_trywait (semaphore) == 0)
        return true;

    if (errno != EAGAIN && errno != EINTR)
    {
        closeNoexcept (unlinkOnError);
        return false;
    }

    const auto deadline = millisecondClock() + kLockTimeoutMs;

    while (openState.load() == ready)
    {
        const int result = sem_trywait (semaphore);
        const int error = errno;
        const auto now = millisecondClock();

        if (result == 0)
            return true;

        if (error != EAGAIN && error != EINTR)
            break;

        // Past the deadline the holder is taken to be dead: go on without the
        // token and post it afterwards as usual.
        if (now >= deadline)
            return true;
    }

    closeNoexcept (unlinkOnError);
    return false;
}

void SharedMemoryHandler::unlock() noexcept
{
    if (openState.load() == ready)
        sem_post (semaphore);
}

bool SharedMemoryHandler::refersToCurrentObject() const noexcept
{
    if (openState.load() < descriptorOpen)
        return false;

    struct stat mine {};
    if (fstat (fileDescriptor, &mine) == -1)
        return false;

    const int fd = shm_open (names.sharedMemory.c_str(), O_RDONLY, 0);
    if (fd == -1)
        return false;

    struct stat current {};
    const bool same = fstat (fd, &current) == 0 && current.st_dev == mine.st_dev && current.st_ino == mine.st_ino;
    ::close (fd);
    return same;
}

} // namespace veltro
