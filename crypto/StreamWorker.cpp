#include "StreamWorker.h"

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
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    helper.join();
}

void StreamWorker::submit(bool large)
{
    if (!helper.joinable() && large)
        start();
    if (!helper.joinable()) {
        // Everything so far ran here, so `done` is this thread's alone.
        if (!work(nextSlot()))
            throw std::runtime_error(failure);
        ++queued;
        done = queued;
        published = queued;
        return;
    }
    ++queued;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        published = queued;
    }
    changed.notify_all();
}

quint64 StreamWorker::finished()
{
    if (!helper.joinable())
        return done;
    const std::lock_guard<std::mutex> lock(mutex);
    return done;
}

void StreamWorker::waitUntilFinished(quint64 jobs)
{
    if (!helper.joinable())
        return; // jobs that ran here have finished, or thrown
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return done >= jobs || failed; });
    if (done < jobs)
        throw std::runtime_error(failure);
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
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return stopping || done < published; });
        if (stopping)
            return;
        const int slot = static_cast<int>(done % slotCount);
        lock.unlock();
        const bool ok = work(slot);
        lock.lock();
        if (ok)
            ++done;
        else
            failed = true;
        lock.unlock();
        changed.notify_all();
        lock.lock();
        if (failed)
            return;
    }
}
