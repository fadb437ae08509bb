#pragma once

#include <QtGlobal>

#include <atomic>

// Lets another thread follow a running encryptStream or decryptStream call and stop it. Pass a
// pointer to one as the call's last argument; it must outlive the call, and serves one call.
//
// bytesRead() counts what the call has read from its input so far, updated after every piece
// (up to 64 KiB): for encryption the plaintext, which ends at the call's `length`; for
// decryption the whole encrypted stream, header included, which ends at its size.
//
// cancel() may come from any thread at any time. The call stops before its next read (a read
// already waiting on a slow pipe is finished first) and throws StreamCancelled; like after a
// failure, the output may hold part of a stream, which the caller removes. A call that has
// already seen the end of its input completes normally.
class StreamProgress
{
public:
    [[nodiscard]] quint64 bytesRead() const noexcept
    {
        return count.load(std::memory_order_relaxed);
    }
    void cancel() noexcept { stop.store(true, std::memory_order_relaxed); }
    [[nodiscard]] bool isCancelled() const noexcept { return stop.load(std::memory_order_relaxed); }

    // For the stream functions: `bytes` more were read.
    void addBytesRead(quint64 bytes) noexcept { count.fetch_add(bytes, std::memory_order_relaxed); }

private:
    std::atomic<quint64> count{0};
    std::atomic<bool> stop{false};
};
