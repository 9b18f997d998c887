// The instrument behind every "allocates nothing" test: it must see each way
// the audio paths could reach the heap, on the calling thread only.

#include "AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace
{

// Keeps the optimiser from removing an allocation whose result is unused.
void keep (void* p)
{
    asm volatile ("" : : "g"(p) : "memory");
}

TEST (AllocationCounter, SeesNewAndTheCAllocatorsOnThisThreadOnly)
{
    using veltro::testing::startCountingAllocations;
    using veltro::testing::stopCountingAllocations;

    startCountingAllocations();
    auto object = std::make_unique<int> (1);
    keep (object.get());
    EXPECT_EQ (stopCountingAllocations(), 1) << "operator new";

    startCountingAllocations();
    std::vector<float> v (64);
    keep (v.data());
    EXPECT_EQ (stopCountingAllocations(), 1) << "a container";

#if defined(__GLIBC__) && ! defined(__SANITIZE_ADDRESS__)
    startCountingAllocations();
    void* a = std::malloc (32);
    keep (a);
    a = std::realloc (a, 4096);
    keep (a);
    void* b = std::calloc (4, 8);
    keep (b);
    void* c = nullptr;
    EXPECT_EQ (posix_memalign (&c, 64, 128), 0);
    keep (c);
    EXPECT_EQ (stopCountingAllocations(), 4) << "malloc, realloc, calloc, posix_memalign";
    std::free (a);
    std::free (b);
    std::free (c);
#endif

    // Another thread's allocations (a message thread, say) are not this thread's.
    std::atomic<int> step { 0 };
    std::thread other ([&] {
        while (step.load() == 0)
            std::this_thread::yield();
        keep (std::make_unique<std::vector<int>> (100).get());
        step = 2;
    });
    startCountingAllocations();
    step = 1;
    while (step.load() != 2)
        std::this_thread::yield();
    EXPECT_EQ (stopCountingAllocations(), 0);
    other.join();
}

} // namespace
