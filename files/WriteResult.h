#pragma once

#include "encryption/Result.h"
#include "files/FileIdentity.h"

#include <QString>

// How a write of a file ended: a Result, and after a success what the write left on disk.
struct [[nodiscard]] WriteResult : Result
{
    WriteResult(const Result& result = {}) : Result(result) {}

    // What is at the target now (with AtomicFile::Options::identifyWritten).
    FileIdentity written;
    // The replaced file was kept at AtomicFile::Options::backup.
    bool backupKept = false;
    // Why the replaced file could not be kept as the backup, which the write did not wait for
    // (a folder or a name too long there, a file system without room for the link); empty
    // when it was kept or none was wanted.
    QString backupNotKept;
    // Why an older backup that the write should have removed is still there.
    QString backupNotRemoved;
    // Written in place, which keeps no backup.
    bool inPlace = false;
};
