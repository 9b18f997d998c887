#include "SharedMemory.h"

#include <cstring>

namespace veltro
{

namespace
{
    // The two indices are adjacent and 8-byte aligned, so they can be replaced in
    // one store.
    static_assert (offsetof (SharedMemory, writeIndex) % 8 == 0);
    static_assert (offsetof (SharedMemory, readIndex) == offsetof (SharedMemory, writeIndex) + 4);

    using AliasingUint64 = uint64_t __attribute__ ((may_alias));

    uint64_t packIndices (uint32_t writeIndex, uint32_t readIndex) noexcept
    {
        // Little-endian: the lower address (writeIndex) is the low word.
        return static_cast<uint64_t> (writeIndex) | (static_cast<uint64_t> (readIndex) << 32);
    }
} // namespace

namespace fifo
{
    void reset (SharedMemory& m) noexcept
    {
        auto* pair = reinterpret_cast<AliasingUint64*> (&m.writeIndex);
        __atomic_store_n (pair, packIndices (kResetWriteIndex, kResetReadIndex), __ATOMIC_RELAXED);
    }

    uint32_t write (SharedMemory& m, const uint16_t* source, uint32_t count) noexcept
    {
        const auto w = loadWriteIndex (m);
        const auto room = freeSpace (w, loadReadIndex (m));
        const auto n = count < room ? count : room;

        for (uint32_t k = 0; k < n; ++k)
            m.samples[writeSlot (w, k)] = source[k];

        m.writeIndex.store (advance (w, n));
        return n;
    }

    uint32_t read (SharedMemory& m, uint16_t* dest, uint32_t count) noexcept
    {
        const auto r = loadReadIndex (m);
        const auto have = available (loadWriteIndex (m), r);
        const auto n = count < have ? count : have;

        for (uint32_t k = 0; k < n; ++k)
            dest[k] = m.samples[readSlot (r, k)];

        m.readIndex.store (advance (r, n));
        return n;
    }
} // namespace fifo

void initialiseSharedMemory (SharedMemory& m) noexcept
{
    std::memset (static_cast<void*> (&m), 0, sizeof (SharedMemory));

    // Nobody else holds the lock yet (the semaphore's token is posted only
    // after this), so two plain stores are as good as one.
    m.readIndex.store (fifo::kResetReadIndex);
    m.daemonState.store (SharedMemory::daemonIdle);
}

} // namespace veltro
