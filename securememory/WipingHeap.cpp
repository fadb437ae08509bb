// Every heap block is wiped before it goes back to the allocator, process-wide. Document text
// passes through many buffers that are not ours (Qt's strings grow by reallocation, the text
// document keeps the typed text and its undo history, fonts and layouts copy it), and all of
// them die through free(): wiping there leaves no freed copy behind, whoever allocated it.
//
// This file replaces glibc's allocation functions the way its manual describes for replacing
// malloc, and hands the work to glibc's own allocator through its __libc_* entry points. It is
// linked into the programs only (not into the libraries), and left out of sanitizer builds,
// whose runtimes replace the allocator themselves.
//
// glibc finds a double free by the mark its per-thread cache (tcache) leaves in a freed block:
// a key of the process in bytes 8 to 15. Those bytes are left alone when they hold that key, so
// that a double free (in Qt or Xlib as much as here) still aborts instead of handing the same
// block out twice. In a block that is really freed they are glibc's, never the caller's: glibc
// writes the key there itself.
#include "SanitizerBuild.h"

#ifndef VARNISK_SANITIZER_BUILD

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <malloc.h>
#include <unistd.h>

extern "C" {

void* __libc_malloc(std::size_t size);
void __libc_free(void* memory);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* __libc_valloc(std::size_t size);
void* __libc_pvalloc(std::size_t size);

} // extern "C"

namespace {

constexpr std::size_t keyAt = sizeof(std::uintptr_t);

// The tcache's key, learned on the first free() by freeing a block of our own: glibc marks it
// as it takes it into the cache. 0 while unknown, and where there is no tcache.
std::atomic<std::uintptr_t> tcacheKey{0};
std::atomic<bool> keyLearned{false};

std::uintptr_t learnTcacheKey()
{
    void* probe = __libc_malloc(2 * keyAt);
    if (probe == nullptr)
        return 0;
    std::memset(probe, 0, 2 * keyAt);
    __libc_free(probe);
    std::uintptr_t key = 0;
    std::memcpy(&key, static_cast<const char*>(probe) + keyAt, sizeof key);
    return key;
}

// A block freed twice may by then be part of the top chunk, the free end of the heap: its size
// then reaches the heap's end, and reading what lies behind it (as malloc_usable_size() does)
// would run off the heap. Such a block is no block in use: glibc's free() finds that and aborts,
// so it is handed on unwiped. Only the main heap (brk) is checked so; its end is at hand.
bool isPastHeapEnd(const void* memory)
{
    std::size_t header = 0;
    std::memcpy(&header, static_cast<const char*>(memory) - keyAt, sizeof header);
    constexpr std::size_t mmapped = 2, otherArena = 4, flags = 7;
    if ((header & (mmapped | otherArena)) != 0)
        return false;
    const auto chunk = reinterpret_cast<std::uintptr_t>(memory) - 2 * keyAt;
    const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    return chunk < end && (header & ~flags) > end - chunk - 2 * keyAt;
}

} // namespace

extern "C" {

void* malloc(std::size_t size) noexcept
{
    return __libc_malloc(size);
}

void free(void* memory) noexcept
{
    if (memory == nullptr)
        return;
    if (!keyLearned.load(std::memory_order_acquire)) {
        tcacheKey.store(learnTcacheKey(), std::memory_order_relaxed);
        keyLearned.store(true, std::memory_order_release);
    }
    if (isPastHeapEnd(memory)) {
        __libc_free(memory);
        return;
    }
    // The whole usable block, not only what was asked for: the caller may have used it all.
    const std::size_t size = malloc_usable_size(memory);
    std::uintptr_t mark = 0;
    if (size >= 2 * keyAt)
        std::memcpy(&mark, static_cast<const char*>(memory) + keyAt, sizeof mark);
    const std::uintptr_t key = tcacheKey.load(std::memory_order_relaxed);
    if (key != 0 && mark == key) {
        explicit_bzero(memory, keyAt);
        explicit_bzero(static_cast<char*>(memory) + 2 * keyAt, size - 2 * keyAt);
    } else {
        explicit_bzero(memory, size);
    }
    __libc_free(memory);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    return __libc_calloc(count, size);
}

// glibc would grow a block in place or move it and drop the old one unwiped, and it gives the
// tail of a shrunk block back unwiped; so a block that must change moves to a fresh one here,
// and the old one is freed (wiped) as a whole.
void* realloc(void* memory, std::size_t size) noexcept
{
    if (memory == nullptr)
        return malloc(size);
    if (size == 0) {
        free(memory);
        return nullptr;
    }
    const std::size_t usable = malloc_usable_size(memory);
    // A modest shrink keeps the block; its tail is wiped with the block when it is freed.
    if (size <= usable && size >= usable / 2)
        return memory;
    void* moved = __libc_malloc(size);
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, memory, std::min(size, usable));
    free(memory);
    return moved;
}

void* reallocarray(void* memory, std::size_t count, std::size_t size) noexcept
{
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes)) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(memory, bytes);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept
{
    if (alignment == 0 || alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* memory = __libc_memalign(alignment, size);
    if (memory == nullptr)
        return ENOMEM;
    *result = memory;
    return 0;
}

void* valloc(std::size_t size) noexcept
{
    return __libc_valloc(size);
}

void* pvalloc(std::size_t size) noexcept
{
    return __libc_pvalloc(size);
}

} // extern "C"

#endif
