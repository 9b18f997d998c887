#include "AllocationWatch.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local bool watching = false;
thread_local int allocations = 0;

void* watchedAllocation (std::size_t size)
{
    if (watching)
        ++allocations;

    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;

    throw std::bad_alloc();
}
} // namespace

namespace veltro::testing
{
void startWatchingAllocations() noexcept
{
    allocations = 0;
    watching = true;
}

int stopWatchingAllocations() noexcept
{
    watching = false;
    return allocations;
}
} // namespace veltro::testing

void* operator new (std::size_t size) { return watchedAllocation (size); }
void* operator new[] (std::size_t size) { return watchedAllocation (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return watchedAllocation (size); } catch (...) { return nullptr; }
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return watchedAllocation (size); } catch (...) { return nullptr; }
}
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
