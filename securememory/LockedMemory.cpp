#include "LockedMemory.h"

#include <atomic>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

#include <openssl/crypto.h>

namespace {

std::atomic<bool> lockRefused{false};

LockedMemory::ReleaseObserver& releaseObserver()
{
    static LockedMemory::ReleaseObserver observer;
    return observer;
}
} // namespace

std::size_t LockedMemory::roundToPages(std::size_t size)
{
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (size == 0)
        size = 1;
    return (size + page - 1) / page * page;
}

void* LockedMemory::allocate(std::size_t size)
{
    const std::size_t length = roundToPages(size);
    void* memory =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    // Both are best effort: without them the secret still works, only less protected.
    if (mlock(memory, length) != 0)
        lockRefused = true;
    (void)madvise(memory, length, MADV_DONTDUMP);
    return memory;
}

void LockedMemory::release(void* memory, std::size_t size) noexcept
{
    if (memory == nullptr)
        return;
    const std::size_t length = roundToPages(size);
    OPENSSL_cleanse(memory, length);
    if (releaseObserver())
        releaseObserver()(memory, length);
    munlock(memory, length);
    munmap(memory, length);
}

void LockedMemory::setReleaseObserver(ReleaseObserver observer)
{
    releaseObserver() = std::move(observer);
}

bool LockedMemory::lockingFailed()
{
    // The engine's buffers for one stream and a few passwords.
    static const bool probeFailed = []() {
        constexpr std::size_t probe = 1024 * 1024;
        void* memory =
            mmap(nullptr, probe, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            return false; // out of memory is not a locking matter
        const bool failed = mlock(memory, probe) != 0;
        munlock(memory, probe);
        munmap(memory, probe);
        return failed;
    }();
    return probeFailed || lockRefused;
}
