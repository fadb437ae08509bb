#pragma once

#include "AtomicFile.h"
#include "FileIdentity.h"

#include <QString>

class QByteArray;
class QFile;
class QIODevice;
class SecureStringHolder;
class StreamProgress;

// Encrypted files on disk. A target is written through AtomicFile: it is replaced only once
// everything was written, synced and (for decryption) verified; on any failure the old file is
// untouched and nothing partial is left behind.
//
// Every operation that streams takes an optional StreamProgress, through which another thread
// can follow it and cancel it; a cancelled operation cleans up like a failed one and gives
// Outcome::Cancelled.
class CryptoFile
{
public:
    enum class Outcome
    {
        Success,
        WrongPassword, // integrity failure
        VersionTooOld, // format version below 4
        VersionTooNew, // format version above 5
        CannotWrite,   // the target cannot be created or replaced; `detail` says why
        Failed,        // the stream format threw; `detail` holds its message
        SaveFailed,    // writing, syncing or replacing the output failed; `detail` says why
        NotSynced,     // the new file is in place, but its folder could not be synced
        Damaged,       // an in-place write failed and the old bytes could not be put back
        UnknownError,  // anything else was thrown
        Cancelled,     // the StreamProgress was cancelled; not a failure, nothing to tell
        Changed,       // the target is no longer the file Options::expected names; nothing written
        Exists,        // the target exists although Options::replaceExisting is false
        OutOfMemory,   // an allocation failed; nothing was written
    };
    struct Result
    {
        Outcome outcome;
        QString detail;
        // After a successful write to a file: what is there now (with
        // AtomicFile::Options::identifyWritten), whether the replaced file was kept at
        // Options::backup, and whether it was written in place (which keeps no backup).
        FileIdentity written = {};
        bool backupKept = false;
        bool inPlace = false;
        bool ok() const { return outcome == Outcome::Success; }
    };

    // Both names refer to the same file (after resolving links and relative paths).
    static bool sameFile(const QString& first, const QString& second);
    // Something is at `path`, a link that leads nowhere included.
    static bool targetExists(const QString& path);
    // What an input must be: encryption writes the length first and needs a regular file;
    // decryption takes a FIFO too.
    enum class Input
    {
        RegularFile,
        RegularFileOrFifo,
    };
    // Opens `file` for reading without waiting for a writer, as opening a FIFO would: with none
    // it reads as empty. A folder, a device and anything `kind` does not allow are refused.
    // The file is opened by descriptor, so `file` no longer knows its name afterwards.
    [[nodiscard]] static bool openInput(QFile& file, Input kind);

    // Encrypts the `length` bytes of `source` into `target`, written as `options` say (a
    // Strategy alone will do). Only a secrets document's Save passes ReplaceOrInPlace. A
    // cancel through `progress` that comes before the final rename cancels the write.
    [[nodiscard]] static Result encrypt(QIODevice& source, quint64 length, const QString& target,
                                        const SecureStringHolder& password,
                                        const AtomicFile::Options& options = {},
                                        StreamProgress* progress = nullptr);
    // Decrypts `source` into an open device as it goes; the data there are verified only when
    // the result is a success. A failed write gives SaveFailed with the device's errorString().
    [[nodiscard]] static Result decrypt(QIODevice& source, QIODevice& target,
                                        const SecureStringHolder& password,
                                        StreamProgress* progress = nullptr);
    // Decrypts `source` into `target`, which is replaced only by a verified plaintext.
    [[nodiscard]] static Result decrypt(QIODevice& source, const QString& target,
                                        const SecureStringHolder& password,
                                        StreamProgress* progress = nullptr,
                                        const AtomicFile::Options& options = {});
    // Decrypts `source` into memory; `plain` is set only on success.
    [[nodiscard]] static Result decrypt(QIODevice& source, QByteArray& plain,
                                        const SecureStringHolder& password,
                                        StreamProgress* progress = nullptr);
    // Writes bytes that are ready in memory (a decrypted image, a sealed document) to `target`.
    [[nodiscard]] static Result write(const QByteArray& data, const QString& target,
                                      const AtomicFile::Options& options = {});
};
