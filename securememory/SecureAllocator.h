#pragma once

#include "LockedMemory.h"

#include <cstddef>
#include <limits>
#include <new>

// Standard allocator whose every buffer is locked, excluded from core dumps and wiped before it
// is freed, so a secret that outgrows a string's inline storage is protected all the same.
template <typename T> class SecureAllocator
{
public:
    using value_type = T;

    SecureAllocator() noexcept = default;
    template <typename U> SecureAllocator(const SecureAllocator<U>&) noexcept {}

    T* allocate(std::size_t count)
    {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T*>(LockedMemory::allocate(count * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t count) noexcept
    {
        LockedMemory::release(memory, count * sizeof(T));
    }

    template <typename U> bool operator==(const SecureAllocator<U>&) const noexcept { return true; }
    template <typename U> bool operator!=(const SecureAllocator<U>&) const noexcept
    {
        return false;
    }
};
