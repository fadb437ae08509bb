#pragma once

#include "encryption/KeyDerivation.h"
#include "files/AtomicFile.h"
#include "files/WriteResult.h"

#include <QString>

class QByteArray;
class QFile;
class QIODevice;
class SecureStringHolder;
class StreamProgress;

// Encrypted files on disk. A target is written through AtomicFile: it is replaced only once
// everything was written, synced and (for decryption) verified; on any failure the old file is
// untouched and nothing partial is left behind. Encrypting and decrypting between devices and
// memory is StreamCipher's.
//
// Every operation that streams takes an optional StreamProgress, through which another thread
// can follow it and cancel it; a cancelled operation cleans up like a failed one and gives
// Outcome::Cancelled.
class CryptoFile
{
public:
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

    // Encrypts the `length` bytes of `source` into `target` in the format version of
    // `derivation`, written as `options` say (a Strategy alone will do). Only a secrets
    // document's Save passes ReplaceOrInPlace. A cancel through `progress` that comes before
    // the final rename cancels the write.
    static WriteResult encrypt(QIODevice& source, quint64 length, const QString& target,
                               const SecureStringHolder& password,
                               const AtomicFile::Options& options = {},
                               StreamProgress* progress = nullptr,
                               KeyDerivation derivation = KeyDerivation::Pbkdf2);
    // Decrypts `source` into `target`, which is replaced only by a verified plaintext.
    static WriteResult decrypt(QIODevice& source, const QString& target,
                               const SecureStringHolder& password,
                               StreamProgress* progress = nullptr,
                               const AtomicFile::Options& options = {});
    // Writes bytes that are ready in memory (a decrypted image, a sealed document) to `target`.
    static WriteResult write(const QByteArray& data, const QString& target,
                             const AtomicFile::Options& options = {});
};
