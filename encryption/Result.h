#pragma once

#include <QString>

// How an operation of the core ended. Everything above the stream functions (sealing a text,
// encrypting and decrypting between devices, writing files) reports every way it can end as one
// of these: a success, a refusal of the file being read, or a failure with the reason in
// `detail` (the system's, or the engine's fixed English message). Only the stream functions
// themselves throw and return the format's int.
struct [[nodiscard]] Result
{
    enum class Outcome
    {
        Success,
        NotFound,      // the input does not exist
        CannotRead,    // the input cannot be opened or read
        WrongPassword, // integrity failure
        VersionTooOld, // format version below 4
        VersionTooNew, // format version above the newest this program reads
        CannotWrite,   // the target cannot be created or replaced; `detail` says why
        Failed,        // the stream format threw; `detail` holds its message
        SaveFailed,    // writing, syncing or replacing the output failed; `detail` says why
        NotSynced,     // the new file is in place, but its folder could not be synced
        Damaged,       // an in-place write failed and the old bytes could not be put back
        UnknownError,  // anything else was thrown
        Cancelled,     // the StreamProgress was cancelled; not a failure, nothing to tell
        Changed,       // the target is no longer the file that was expected; nothing written
        Exists,        // the target exists although it may not be replaced
        OutOfMemory,   // an allocation failed; nothing was written
    };

    Outcome outcome = Outcome::Success;
    QString detail;

    [[nodiscard]] bool ok() const { return outcome == Outcome::Success; }
    // A decryption that ended so may have been given the wrong password: its digest did not
    // match, or the engine refused what the key made of the data. Never a version or I/O failure.
    [[nodiscard]] bool mayBeWrongPassword() const
    {
        return outcome == Outcome::WrongPassword || outcome == Outcome::Failed;
    }
    // Running out of memory, with the system's words for it.
    [[nodiscard]] static Result outOfMemory();
};
