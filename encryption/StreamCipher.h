#pragma once

#include "encryption/KeyDerivation.h"
#include "encryption/Result.h"

#include <QtGlobal>

class QByteArray;
class QIODevice;
class SecureStringHolder;
class StreamHeader;
class StreamKey;
class StreamProgress;

// The stream format between Qt devices and memory, with every way a call can end as a Result:
// decryptStream's outcomes, what the engine throws, a failed write to the output (with the
// device's reason) and running out of memory. What the engine left on the stack is wiped when a
// call returns.
//
// Every call that streams takes an optional StreamProgress, through which another thread can
// follow it and cancel it; a cancelled call gives Outcome::Cancelled.
class StreamCipher
{
public:
    // Encrypts the `length` bytes that `source` delivers into `target`, in the format version of
    // `derivation`. Part of a stream may be in `target` after a failure.
    static Result encrypt(QIODevice& source, quint64 length, QIODevice& target,
                          const SecureStringHolder& password, StreamProgress* progress = nullptr,
                          KeyDerivation derivation = KeyDerivation::Pbkdf2);
    // Encrypts `plain` into `image`, a complete encrypted stream; `image` is set only on success.
    static Result encrypt(const QByteArray& plain, QByteArray& image,
                          const SecureStringHolder& password,
                          KeyDerivation derivation = KeyDerivation::Pbkdf2);
    // Decrypts `source` into an open device as it goes; the data there are verified only when
    // the result is a success.
    static Result decrypt(QIODevice& source, QIODevice& target, const SecureStringHolder& password,
                          StreamProgress* progress = nullptr);
    // The same with a key kept for more passes over the same file (see StreamKey).
    static Result decrypt(QIODevice& source, QIODevice& target, StreamKey& key,
                          StreamProgress* progress = nullptr);
    // Decrypts `source` into memory; `plain` is set only on success, and nothing of a failed
    // decryption is left in freed memory.
    static Result decrypt(QIODevice& source, QByteArray& plain, const SecureStringHolder& password,
                          StreamProgress* progress = nullptr);
    // Reads only the clear header of `source`, which needs no password: a version this program
    // does not read, or a damaged header, is refused as decryption would refuse it.
    static Result readHeader(QIODevice& source, StreamHeader& header);
    // The key derivation of a stream in memory, by its version byte (a sealed image of ours).
    [[nodiscard]] static KeyDerivation derivationOf(const QByteArray& image);
};
