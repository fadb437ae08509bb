#pragma once

#include <QIODevice>

// Standard output as a write-only device. The bytes go straight to the descriptor, so no stdio
// buffer keeps a copy of a plaintext, and a failed write keeps the system's reason in
// errorString().
class StandardOutput : public QIODevice
{
    Q_OBJECT

public:
    using QIODevice::QIODevice;
    bool isSequential() const override { return true; }

    // Writes all of `data`; returns 0, or the errno of the write that failed.
    [[nodiscard]] static int writeAll(const char* data, qint64 size);
    // A reader that stopped early ("show doc.stxt | head -1") is no failure of ours: once a
    // write found the reader gone (EPIPE), this ends the program by SIGPIPE without a word, as
    // cat and every other filter end then; otherwise it returns.
    static void endIfReaderLeft();
    // Syncs standard output when it is a regular file, like every file this program writes, so
    // that success means the bytes are on disk. Returns 0, or the errno of the failed sync.
    [[nodiscard]] static int sync();

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;
};
