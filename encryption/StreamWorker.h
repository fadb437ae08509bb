#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Runs one half of a stream's work (the cipher, or the digest) on a helper thread while the
// calling thread does the other half and all reading and writing, so that the two halves
// share two processors. The jobs work on a fixed ring of buffers: job n uses slot n % ringSlots,
// and they run strictly in the order they were submitted.
//
// Jobs run on the calling thread instead, in the same order, until the first `large` one (a
// small stream is not worth a thread), and throughout when only one processor is available to
// this thread or no thread can be started. Results are the same either way.
class StreamWorker
{
public:
    // `job` does the work for a slot and returns false when it failed; the next wait then
    // throws std::runtime_error with `failure`. It must not throw.
    using Job = std::function<bool(int slot)>;
    StreamWorker(int ringSlots, Job job, const char* failure);
    // Stops the helper (an unfinished job is completed, the queued ones are dropped).
    ~StreamWorker();
    StreamWorker(const StreamWorker&) = delete;
    StreamWorker& operator=(const StreamWorker&) = delete;

    // The slot that the next submitted job will use. Before filling it, wait until the job
    // that used it last has finished: waitUntilFinished(submitted() - ringSlots + 1).
    [[nodiscard]] int nextSlot() const { return static_cast<int>(queued % slotCount); }
    [[nodiscard]] quint64 submitted() const { return queued; }
    // Queues a job for nextSlot(). A `large` job starts the helper thread if there is none.
    void submit(bool large);
    // The number of jobs that have finished so far, without waiting.
    [[nodiscard]] quint64 finished() const { return done; }
    // Waits until the first `jobs` jobs have finished; throws when one of them failed.
    void waitUntilFinished(quint64 jobs);

private:
    void start();
    void run();
    void runJobs();
    // Waits until `ready()` holds: briefly by looking again and again, since the other thread
    // usually gets there within a fraction of a chunk's work, then asleep on `changed`.
    template <typename Ready> void waitFor(Ready ready);
    void wake();

    const int slotCount;
    const Job work;
    const char* const failure;
    quint64 queued = 0; // the calling thread's own count; `published` is the helper's view

    std::atomic<quint64> published{0};
    std::atomic<quint64> done{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> stopping{false};
    // A thread that is about to sleep counts itself here first, so that the other one only
    // takes the mutex to wake it when someone sleeps.
    std::atomic<int> sleepers{0};
    std::mutex mutex;
    std::condition_variable changed;
    std::thread helper;
};
