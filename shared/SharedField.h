#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

namespace veltro
{

// A fixed-width field that lives in memory shared between threads or processes.
// It is a standard-layout wrapper around exactly one T, so the block keeps its
// byte layout, and every access is a relaxed atomic load or store: the lock
// orders the fields against each other, the atomics keep each access whole.
template <typename T>
struct SharedField
{
    static_assert (std::is_integral_v<T>, "shared fields are plain integers");

    T load() const noexcept { return __atomic_load_n (&raw, __ATOMIC_RELAXED); }
    void store (T value) noexcept { __atomic_store_n (&raw, value, __ATOMIC_RELAXED); }

    T raw;
};

// Same idea for process-local members that the audio thread and the message
// thread both touch (editor reads, settings writes).
template <typename T>
class RelaxedValue
{
public:
    RelaxedValue() noexcept = default;
    RelaxedValue (T initial) noexcept : value (initial) {}

    RelaxedValue (const RelaxedValue&) = delete;
    RelaxedValue& operator= (const RelaxedValue&) = delete;
    RelaxedValue& operator= (T v) noexcept { store (v); return *this; }

    T load() const noexcept { return value.load (std::memory_order_relaxed); }
    void store (T v) noexcept { value.store (v, std::memory_order_relaxed); }
    operator T() const noexcept { return load(); }

private:
    static_assert (std::atomic<T>::is_always_lock_free, "real-time code needs lock-free values");
    std::atomic<T> value {};
};

} // namespace veltro
