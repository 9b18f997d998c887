#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

// With glibc (and no sanitizer, which brings its own allocator) the C
// allocation functions are replaced too, so memory the framework takes with
// malloc is counted as well as every operator new, which ends in malloc.
#if defined(__GLIBC__) && ! defined(__SANITIZE_ADDRESS__)
    #define VELTRO_COUNT_MALLOC 1
#else
    #define VELTRO_COUNT_MALLOC 0
#endif

namespace
{
thread_local bool counting = false;
thread_local long allocations = 0;

inline void noteAllocation() noexcept
{
    if (counting)
        ++allocations;
}

void* countedNew (std::size_t size)
{
#if ! VELTRO_COUNT_MALLOC
    noteAllocation();
#endif
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;

    throw std::bad_alloc();
}
} // namespace

namespace veltro::testing
{
void startCountingAllocations() noexcept
{
    allocations = 0;
    counting = true;
}

long stopCountingAllocations() noexcept
{
    counting = false;
    return allocations;
}
} // namespace veltro::testing

#if VELTRO_COUNT_MALLOC
extern "C"
{
void* __libc_malloc (std::size_t);
void* __libc_calloc (std::size_t, std::size_t);
void* __libc_realloc (void*, std::size_t);
void* __libc_memalign (std::size_t, std::size_t);
void __libc_free (void*);

void* malloc (std::size_t size)
{
    noteAllocation();
    return __libc_malloc (size);
}

void* calloc (std::size_t count, std::size_t size)
{
    noteAllocation();
    return __libc_calloc (count, size);
}

void* realloc (void* p, std::size_t size)
{
    noteAllocation();
    return __libc_realloc (p, size);
}

void* aligned_alloc (std::size_t alignment, std::size_t size)
{
    noteAllocation();
    return __libc_memalign (alignment, size);
}

void* memalign (std::size_t alignment, std::size_t size)
{
    noteAllocation();
    return __libc_memalign (alignment, size);
}

int posix_memalign (void** out, std::size_t alignment, std::size_t size)
{
    noteAllocation();
    if (alignment % sizeof (void*) != 0 || (alignment & (alignment - 1)) != 0)
        return 22; // EINVAL
    void* p = __libc_memalign (alignment, size);
    if (p == nullptr)
        return 12; // ENOMEM
    *out = p;
    return 0;
}

void free (void* p) { __libc_free (p); }
}
#endif

void* operator new (std::size_t size) { return countedNew (size); }
void* operator new[] (std::size_t size) { return countedNew (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return countedNew (size); } catch (...) { return nullptr; }
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return countedNew (size); } catch (...) { return nullptr; }
}
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
