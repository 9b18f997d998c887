#pragma once

// Channel names a test owns: never those of a daemon running on this machine,
// and different for every call (process id and a counter), so tests running
// side by side never meet each other's objects.

#include "SharedMemoryHandler.h"

#include <atomic>
#include <string>
#include <unistd.h>

namespace veltro::testing
{

inline ChannelNames uniqueChannelNames (const std::string& tag)
{
    static std::atomic<int> counter { 0 };
    const auto suffix = std::to_string (getpid()) + "_" + std::to_string (++counter);
    return { "/Veltro" + tag + "Test_SHM_" + suffix, "/Veltro" + tag + "Test_SEM_" + suffix };
}

} // namespace veltro::testing
