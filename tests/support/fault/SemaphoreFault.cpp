#include "SemaphoreFault.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <semaphore.h>

namespace
{
std::atomic<bool> failing { false };
} // namespace

namespace veltro::testing
{
void failSemaphoreCalls (bool fail) noexcept
{
    failing.store (fail);
}
} // namespace veltro::testing

extern "C" int sem_trywait (sem_t* sem)
{
    using Real = int (*) (sem_t*);
    static Real real = reinterpret_cast<Real> (dlsym (RTLD_NEXT, "sem_trywait"));
    if (failing.load())
    {
        errno = EINVAL;
        return -1;
    }
    return real (sem);
}
