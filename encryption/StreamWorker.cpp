#include "StreamWorker.h"

#include "securememory/SecureWipe.h"

#include <chrono>
#include <stdexcept>
#include <system_error>

#include <sched.h>

namespace {

// A second thread only pays when it can run beside this one; on one processor (or when the
// process is pinned to one) it would only add switches between the two.
bool secondProcessorAvailable()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return std::thread::hardware_concurrency() > 1;
    return CPU_COUNT(&set) > 1;
}

} // namespace

StreamWorker::StreamWorker(int ringSlots, Job job, const char* failureMessage)
    : slotCount(ringSlots), work(std::move(job)), failure(failureMessage)
{}

StreamWorker::~StreamWorker()
{
    if (!helper.joinable())
        return;
    stopping = true;
    wake();
    helper.join();
}

void StreamWorker::submit(bool large)
{
    if (!helper.joinable() && large)
        start();
    if (!helper.joinable()) {
        // Everything so far ran here, so the counts are this thread's alone.
        if (!work(nextSlot()))
            throw std::runtime_error(failure);
        ++queued;
        done = queued;
        published = queued;
        return;
    }
    ++queued;
    published = queued;
    wake();
}

void StreamWorker::waitUntilFinished(quint64 jobs)
{
    if (!helper.joinable())
        return; // jobs that ran here have finished, or thrown
    waitFor([&] { return done >= jobs || failed; });
    if (done < jobs)
        throw std::runtime_error(failure);
}

template <typename Ready> void StreamWorker::waitFor(Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > until) {
            std::unique_lock<std::mutex> lock(mutex);
            ++sleepers;
            changed.wait(lock, ready);
            --sleepers;
            return;
        }
        std::this_thread::yield();
    }
}

void StreamWorker::wake()
{
    if (sleepers == 0)
        return;
    {
        // Taking the mutex orders this wake after a sleeper's last look at the counts.
        const std::lock_guard<std::mutex> lock(mutex);
    }
    changed.notify_all();
}

void StreamWorker::start()
{
    if (!secondProcessorAvailable())
        return;
    try {
        helper = std::thread(&StreamWorker::run, this);
    } catch (const std::system_error&) {
        // No thread to be had: the jobs run on the calling thread.
    }
}

void StreamWorker::run()
{
    runJobs();
    // The hashing of plaintext went through this thread's frames, and glibc keeps a finished
    // thread's stack for the next thread unwiped.
    secureWipeStack();
}

void StreamWorker::runJobs()
{
    for (;;) {
        waitFor([&] { return stopping || done < published; });
        if (stopping)
            return;
        const quint64 job = done;
        if (!work(static_cast<int>(job % slotCount))) {
            failed = true;
            wake();
            return;
        }
        done = job + 1;
        wake();
    }
}
