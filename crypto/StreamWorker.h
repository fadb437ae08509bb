#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Runs one half of a stream's work (the cipher, or the digest) on a helper thread while the
// calling thread does the other half and all reading and writing, so that the two halves
// share two processors. The jobs work on a fixed ring of buffers: job n uses slot n % ringSlots,
// and they run strictly in the order they were submitted.
//
// Jobs run on the calling thread instead, in the same order, as long as no job was submitted
// as `large` (a small stream is not worth a thread), when only one processor is available to
// this thread, and when no thread can be started. Results are the same either way.
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
    // that used it last (submitted() - ringSlots) is done.
    [[nodiscard]] int nextSlot() const { return static_cast<int>(queued % slotCount); }
    [[nodiscard]] quint64 submitted() const { return queued; }
    // Queues a job for nextSlot(). A `large` job starts the helper thread if there is none.
    void submit(bool large);
    // The number of jobs that have finished so far, without waiting.
    [[nodiscard]] quint64 finished();
    // Waits until the first `jobs` jobs have finished; throws when one of them failed.
    void waitUntilFinished(quint64 jobs);

private:
    void start();
    void run();

    const int slotCount;
    const Job work;
    const char* const failure;
    quint64 queued = 0; // written by the calling thread only, published under `mutex`

    std::mutex mutex;
    std::condition_variable changed;
    quint64 published = 0; // jobs the helper may take
    quint64 done = 0;
    bool failed = false;
    bool stopping = false;
    std::thread helper;
};
