#pragma once

#include "encryption/Result.h"
#include "files/FileIdentity.h"

// How a write of a file ended: a Result, and after a success what the write left on disk.
struct [[nodiscard]] WriteResult : Result
{
    WriteResult(const Result& result = {}) : Result(result) {}

    // What is at the target now (with AtomicFile::Options::identifyWritten).
    FileIdentity written;
    // The replaced file was kept at AtomicFile::Options::backup.
    bool backupKept = false;
    // Written in place, which keeps no backup.
    bool inPlace = false;
};
