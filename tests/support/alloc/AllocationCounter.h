#pragma once

// Counts heap allocations made by the calling thread while counting is on,
// so a test can prove that a real-time path allocates nothing.

namespace veltro::testing
{

void startCountingAllocations() noexcept;
long stopCountingAllocations() noexcept;

} // namespace veltro::testing
