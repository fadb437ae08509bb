#pragma once

#include <cstddef>
#include <functional>

// Page-granular memory for secrets: an anonymous read-write mapping that is locked into RAM
// (so it is never paged out), left out of core dumps, and wiped before it is given back.
class LockedMemory
{
public:
    // Returns at least `size` bytes of zeroed, locked memory; throws std::bad_alloc when the
    // system has no mapping to give. A failed lock is ignored: the memory is then used unlocked.
    static void* allocate(std::size_t size);
    // Wipes the first `size` bytes' pages, unlocks and unmaps them. `memory` may be null.
    static void release(void* memory, std::size_t size) noexcept;

    // Memory cannot be locked here (RLIMIT_MEMLOCK too small, and no CAP_IPC_LOCK): secrets may
    // be swapped out. Tried once, on the first call, with as much as one encryption needs at
    // most; true as well once any allocation could not be locked.
    static bool lockingFailed();

    // Lets a test look at memory after it was wiped and before it is unmapped.
    using ReleaseObserver = std::function<void(const void* memory, std::size_t size)>;
    static void setReleaseObserver(ReleaseObserver observer);

private:
    static std::size_t roundToPages(std::size_t size);
};
