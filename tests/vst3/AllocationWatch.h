#pragma once

// Counts heap allocations made by the calling thread while watching, so a
// test can show that a real-time path allocates nothing.

namespace veltro::testing
{

void startWatchingAllocations() noexcept;
int stopWatchingAllocations() noexcept; // allocations seen since the start

} // namespace veltro::testing
