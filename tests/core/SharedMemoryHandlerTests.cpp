// The handle on real POSIX shared memory and a real named semaphore, under
// test-only names so a running daemon is never disturbed.

#include "TestChannelNames.h"
#include "SharedMemoryHandler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace veltro;

namespace
{
int semaphoreCount (const ChannelNames& names)
{
    sem_t* s = sem_open (names.semaphore.c_str(), 0);
    if (s == SEM_FAILED)
        return -1;
    int value = -1;
    sem_getvalue (s, &value);
    sem_close (s);
    return value;
}

struct Channel : ::testing::Test
{
    ChannelNames names = veltro::testing::uniqueChannelNames ("");

    void TearDown() override
    {
        shm_unlink (names.sharedMemory.c_str());
        sem_unlink (names.semaphore.c_str());
    }
};
} // namespace

TEST_F (Channel, CreateInitialisesBlockAndLeavesLockFree)
{
    SharedMemoryHandler daemon (names);
    ASSERT_TRUE (daemon.createAndInitialise());
    EXPECT_EQ (daemon.getOpenState(), SharedMemoryHandler::ready);
    EXPECT_EQ (semaphoreCount (names), 1);

    auto* m = daemon.getMemory();
    EXPECT_EQ (m->readIndex.load(), 8191u);
    EXPECT_EQ (m->daemonState.load(), 1);
    EXPECT_EQ (m->deviceType.load(), 0);

    SharedMemoryHandler plugin (names);
    ASSERT_TRUE (plugin.openExisting());
    ASSERT_TRUE (plugin.tryLock());
    EXPECT_EQ (semaphoreCount (names), 0);
    plugin.getMemory()->pluginEnabled.store (1);
    plugin.unlock();
    EXPECT_EQ (semaphoreCount (names), 1);
    EXPECT_EQ (m->pluginEnabled.load(), 1) << "both handles see the same block";

    EXPECT_TRUE (plugin.close (false));
    EXPECT_EQ (plugin.getOpenState(), SharedMemoryHandler::nothingOpen);
    EXPECT_TRUE (daemon.close (true));
    EXPECT_EQ (shm_open (names.sharedMemory.c_str(), O_RDWR, 0), -1) << "daemon unlinks both names";
    EXPECT_EQ (semaphoreCount (names), -1);
}

TEST_F (Channel, CreationReplacesStaleObjectsAndEndsWithOneToken)
{
    for (int staleCount : { 0, 1 })
    {
        SCOPED_TRACE (staleCount);
        // A crashed daemon's leftovers: a dirty object and a semaphore at some count.
        const int fd = shm_open (names.sharedMemory.c_str(), O_RDWR | O_CREAT, 0644);
        ASSERT_NE (fd, -1);
        ASSERT_EQ (ftruncate (fd, kSharedMemorySize), 0);
        auto* stale = static_cast<SharedMemory*> (mmap (nullptr, kSharedMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        stale->pluginEnabled.store (3);
        stale->daemonState.store (3);
        munmap (stale, kSharedMemorySize);
        close (fd);
        sem_t* s = sem_open (names.semaphore.c_str(), O_CREAT, 0644, staleCount);
        sem_close (s);

        SharedMemoryHandler daemon (names);
        ASSERT_TRUE (daemon.createAndInitialise());
        EXPECT_EQ (daemon.getMemory()->pluginEnabled.load(), 0);
        EXPECT_EQ (daemon.getMemory()->daemonState.load(), 1);
        EXPECT_EQ (semaphoreCount (names), 1);
        ASSERT_TRUE (daemon.close (true));
    }
}

TEST_F (Channel, OpenExistingReportsHowFarItGot)
{
    SharedMemoryHandler plugin (names);
    EXPECT_FALSE (plugin.openExisting());
    EXPECT_EQ (plugin.getOpenState(), SharedMemoryHandler::nothingOpen);
    EXPECT_FALSE (plugin.tryLock()) << "no lock without a block";

    // An object without its semaphore: the block maps, the semaphore does not open.
    const int fd = shm_open (names.sharedMemory.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ (ftruncate (fd, kSharedMemorySize), 0);
    close (fd);
    EXPECT_FALSE (plugin.openExisting());
    EXPECT_EQ (plugin.getOpenState(), SharedMemoryHandler::blockMapped);
    EXPECT_EQ (plugin.getMemory(), nullptr);
    EXPECT_FALSE (plugin.tryLock());
    EXPECT_TRUE (plugin.close (false));
    EXPECT_EQ (plugin.getOpenState(), SharedMemoryHandler::nothingOpen);
}

TEST_F (Channel, ShortObjectCountsAsDaemonNotRunningInsteadOfFaulting)
{
    // A foreign or half-written object under the name: mapping the full block
    // would fault on first access.
    const int fd = shm_open (names.sharedMemory.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ (ftruncate (fd, 100), 0);
    close (fd);
    sem_close (sem_open (names.semaphore.c_str(), O_CREAT, 0644, 1));

    SharedMemoryHandler plugin (names);
    EXPECT_FALSE (plugin.openExisting());
    EXPECT_EQ (plugin.getOpenState(), SharedMemoryHandler::descriptorOpen);
    EXPECT_EQ (plugin.getMemory(), nullptr);
    EXPECT_TRUE (plugin.close (false));
}

TEST_F (Channel, LockHeldByADeadProcessTimesOutAndAddsAToken)
{
    SharedMemoryHandler daemon (names);
    ASSERT_TRUE (daemon.createAndInitialise());

    // Another process takes the token and dies without posting it.
    const pid_t child = fork();
    if (child == 0)
    {
        SharedMemoryHandler other (names);
        _exit (other.openExisting() && other.tryLock() ? 0 : 1);
    }
    int status = 0;
    waitpid (child, &status, 0);
    ASSERT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
    ASSERT_EQ (semaphoreCount (names), 0);

    SharedMemoryHandler plugin (names);
    ASSERT_TRUE (plugin.openExisting());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE (plugin.tryLock());
    const auto waitedMs = std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - started).count();
    // Loose bounds: this documents the behaviour, it is no timing benchmark.
    EXPECT_GE (waitedMs, 200);
    EXPECT_LT (waitedMs, 5000);
    plugin.unlock();
    EXPECT_EQ (semaphoreCount (names), 1) << "the late unlock gives the system its token back";
}

TEST_F (Channel, TwoThreadsNeverHoldTheLockTogether)
{
    SharedMemoryHandler daemon (names);
    ASSERT_TRUE (daemon.createAndInitialise());
    SharedMemoryHandler plugin (names);
    ASSERT_TRUE (plugin.openExisting());

    int inside = 0, overlaps = 0;
    auto work = [&] (SharedMemoryHandler& h) {
        for (int i = 0; i < 20000; ++i)
        {
            ASSERT_TRUE (h.tryLock());
            if (__atomic_add_fetch (&inside, 1, __ATOMIC_SEQ_CST) != 1)
                ++overlaps;
            __atomic_sub_fetch (&inside, 1, __ATOMIC_SEQ_CST);
            h.unlock();
        }
    };
    std::thread a ([&] { work (daemon); });
    std::thread b ([&] { work (plugin); });
    a.join();
    b.join();
    EXPECT_EQ (overlaps, 0);
    EXPECT_EQ (semaphoreCount (names), 1);
}

TEST_F (Channel, RecognisesWhenTheNameNowRefersToANewObject)
{
    SharedMemoryHandler daemon (names);
    ASSERT_TRUE (daemon.createAndInitialise());
    SharedMemoryHandler plugin (names);
    ASSERT_TRUE (plugin.openExisting());
    EXPECT_TRUE (plugin.refersToCurrentObject());

    // A restarted daemon replaces the objects; the plug-in's mapping is stale.
    SharedMemoryHandler restarted (names);
    ASSERT_TRUE (restarted.createAndInitialise());
    EXPECT_FALSE (plugin.refersToCurrentObject());
}
