#pragma once

// The block the daemon shares with the plug-in: a FIFO of sync codes plus the
// status fields of the handshake. Both deliverables compile this one header.

#include "SharedField.h"

#include <cstddef>
#include <cstdint>

namespace veltro
{

inline constexpr const char* kSharedMemoryName = "/Veltro_Daemon_SHM";
inline constexpr const char* kSemaphoreName = "/Veltro_Daemon_SEM";

inline constexpr uint32_t kFifoSize = 8192;
inline constexpr uint32_t kFifoMask = kFifoSize - 1;
inline constexpr std::size_t kSharedMemorySize = 16428;

struct SharedMemory
{
    enum device_type_enum : int32_t
    {
        invalid = -1,
        tactora = 0,
        klavo2 = 1,
        vantel = 2,
    };

    enum daemon_state_enum : int32_t
    {
        daemonShutDown = 0,
        daemonIdle = 1,
        daemonSettingUp = 2,
        daemonRunning = 3,
    };

    enum plugin_enabled_enum : int32_t
    {
        channelFree = 0,
        channelClaimed = 1,
        channelAnnounced = 2,
        channelStreaming = 3,
    };

    uint16_t samples[kFifoSize];              // FIFO ring; accessed only under the lock
    SharedField<uint32_t> writeIndex;         // next slot the plug-in writes
    SharedField<uint32_t> readIndex;          // last slot the daemon has read
    SharedField<int32_t> daemonState;
    SharedField<int32_t> deviceType;
    SharedField<int32_t> pluginEnabled;
    SharedField<uint16_t> hostType;
    uint16_t reserved0;
    SharedField<int32_t> instanceCounter;
    SharedField<uint8_t> sampleRateIs44100;
    SharedField<uint8_t> sampleRateChanged;
    uint16_t reserved1;
    SharedField<int32_t> nominalBlockSize;
    SharedField<int32_t> actualBlockSize;
    SharedField<uint8_t> blockSizeChanged;
    uint8_t reserved2[3];
};

static_assert (std::is_standard_layout_v<SharedMemory>);
static_assert (sizeof (SharedMemory) == kSharedMemorySize);
static_assert (alignof (SharedMemory) == 4);
static_assert (offsetof (SharedMemory, samples) == 0);
static_assert (offsetof (SharedMemory, writeIndex) == 16384);
static_assert (offsetof (SharedMemory, readIndex) == 16388);
static_assert (offsetof (SharedMemory, daemonState) == 16392);
static_assert (offsetof (SharedMemory, deviceType) == 16396);
static_assert (offsetof (SharedMemory, pluginEnabled) == 16400);
static_assert (offsetof (SharedMemory, hostType) == 16404);
static_assert (offsetof (SharedMemory, reserved0) == 16406);
static_assert (offsetof (SharedMemory, instanceCounter) == 16408);
static_assert (offsetof (SharedMemory, sampleRateIs44100) == 16412);
static_assert (offsetof (SharedMemory, sampleRateChanged) == 16413);
static_assert (offsetof (SharedMemory, reserved1) == 16414);
static_assert (offsetof (SharedMemory, nominalBlockSize) == 16416);
static_assert (offsetof (SharedMemory, actualBlockSize) == 16420);
static_assert (offsetof (SharedMemory, blockSizeChanged) == 16424);
static_assert (offsetof (SharedMemory, reserved2) == 16425);
static_assert (sizeof (SharedField<uint32_t>) == 4 && sizeof (SharedField<uint16_t>) == 2
               && sizeof (SharedField<uint8_t>) == 1);

// FIFO arithmetic. One slot between the indices always stays empty and
// readIndex names a slot already read, so at most kFifoSize - 2 codes fit.
namespace fifo
{
    inline constexpr uint32_t freeSpace (uint32_t writeIndex, uint32_t readIndex) noexcept
    {
        return (readIndex - writeIndex - 1) & kFifoMask;
    }

    inline constexpr uint32_t available (uint32_t writeIndex, uint32_t readIndex) noexcept
    {
        return (writeIndex - readIndex - 1) & kFifoMask;
    }

    inline constexpr uint32_t writeSlot (uint32_t writeIndex, uint32_t k) noexcept { return (writeIndex + k) & kFifoMask; }
    inline constexpr uint32_t readSlot (uint32_t readIndex, uint32_t k) noexcept { return (readIndex + 1 + k) & kFifoMask; }
    inline constexpr uint32_t advance (uint32_t index, uint32_t count) noexcept { return (index + count) & kFifoMask; }

    inline constexpr uint32_t kResetWriteIndex = 0;
    inline constexpr uint32_t kResetReadIndex = kFifoMask;

    // Indices stored only in range: a rogue writer cannot push a reader off the ring.
    inline uint32_t loadWriteIndex (const SharedMemory& m) noexcept { return m.writeIndex.load() & kFifoMask; }
    inline uint32_t loadReadIndex (const SharedMemory& m) noexcept { return m.readIndex.load() & kFifoMask; }

    // writeIndex and readIndex are stored together in one 8-byte write, so a
    // reader never sees a half-reset FIFO.
    void reset (SharedMemory& m) noexcept;

    // Copies up to `count` codes from `source` into the FIFO and advances writeIndex.
    // Returns how many were stored (limited by the free space).
    uint32_t write (SharedMemory& m, const uint16_t* source, uint32_t count) noexcept;

    // Takes up to `count` codes out of the FIFO into `dest` and advances readIndex.
    uint32_t read (SharedMemory& m, uint16_t* dest, uint32_t count) noexcept;
} // namespace fifo

// Zeroes the block and stores readIndex 8191 with daemonState 1 (one 8-byte store).
void initialiseSharedMemory (SharedMemory& m) noexcept;

} // namespace veltro
