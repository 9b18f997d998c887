#pragma once

// sem_trywait on glibc never reports anything but EAGAIN, so tests inject a
// semaphore error by interposing the call for the whole test executable.

namespace veltro::testing
{

// While on, every sem_trywait of this process fails with EINVAL.
void failSemaphoreCalls (bool fail) noexcept;

} // namespace veltro::testing
