#pragma once

#include "encryption/Result.h"
#include "files/FileIdentity.h"

#include <QByteArray>

#include <optional>

// Writes a file where it is: for a document that may be written in a folder where no file may be
// created, so that it cannot be replaced. Its old bytes are kept in memory and written back when
// the new ones cannot be written or synced. That is not atomic (a crash during the write can
// leave a damaged file), reads the whole old file, and keeps no backup: for small documents only.
class InPlaceWrite
{
public:
    // Opens `fileName` in `folderFd` for writing in place and reads its bytes; the descriptor, or
    // -1 with `failure` set. With `expected`, the bytes read must be that version (Changed).
    int open(int folderFd, const QByteArray& fileName, const std::optional<FileIdentity>& expected,
             Result& failure);
    // The first new byte is about to be written to the file.
    void touch() { touched = true; }
    // Cuts the file to the `length` bytes written.
    Result truncate(int fd, qint64 length);
    // Writes the old bytes back, if the file was touched; a failure leaves it damaged.
    Result restore(int fd);
    void release() { oldContent.clear(); }

private:
    QByteArray oldContent;
    bool touched = false;
};
