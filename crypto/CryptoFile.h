#pragma once

#include <QString>

class QByteArray;
class QIODevice;
class SecureStringHolder;

// Encrypted files on disk. A target is written through a temporary file in its directory and
// replaces the old file only once everything was written, flushed and (for decryption)
// verified; on any failure the old file is untouched and nothing partial is left behind.
class CryptoFile
{
public:
    enum class Outcome
    {
        Success,
        WrongPassword, // integrity failure
        VersionTooOld, // format version below 4
        VersionTooNew, // format version above 5
        CannotWrite,   // the target cannot be created or replaced
        Failed,        // the stream format threw; `detail` holds its message
        SaveFailed,    // writing the verified result to disk failed; `detail` says why
        UnknownError,  // anything else was thrown
    };
    struct Result
    {
        Outcome outcome;
        QString detail;
        bool ok() const { return outcome == Outcome::Success; }
    };

    // Both names refer to the same file (after resolving links and relative paths).
    static bool sameFile(const QString& first, const QString& second);
    // The target can be written: a writable existing file, or a new file in a writable folder.
    static bool isWritableTarget(const QString& path);

    // Encrypts the `length` bytes of `source` into `target`.
    static Result encrypt(QIODevice& source, quint64 length, const QString& target,
                          const SecureStringHolder& password);
    // Decrypts `source` into an open device as it goes; the data there are verified only when
    // the result is a success.
    static Result decrypt(QIODevice& source, QIODevice& target, const SecureStringHolder& password);
    // Decrypts `source` into `target`, which is replaced only by a verified plaintext.
    static Result decrypt(QIODevice& source, const QString& target,
                          const SecureStringHolder& password);
    // Decrypts `source` into memory; `plain` is set only on success.
    static Result decrypt(QIODevice& source, QByteArray& plain, const SecureStringHolder& password);
    // Writes plain bytes to `target` atomically.
    static Result write(const QByteArray& data, const QString& target);
};
