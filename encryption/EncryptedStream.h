#pragma once

#include "encryption/KeyDerivation.h"

#include <QtGlobal>

class QDataStream;
class SecureStringHolder;
class StreamKey;
class StreamProgress;

// The one container of every encrypted file (.stxt, .sdat, .simg):
//   the clear header (StreamHeader): format version (5 or 6 written, 4 to 6 read), a second
//   byte, in version 6 the Argon2id costs, 16 bytes salt; then AES-256-CBC of: total T (8 bytes
//   LE) = K + L, K random prefix bytes (the first is K - 1), L data bytes, SHA-256 of prefix and
//   data. Key and IV are 48 bytes of PBKDF2-HMAC-SHA1(password, salt, 1000) in versions 4 and 5,
//   of Argon2id(password, salt, the header's costs) in version 6. Version 4 has no padding and
//   may carry trailing bytes after the digest.
// Both functions stream in chunks of 64 KiB with fixed memory (well under 1 MiB, locked and
// wiped) and throw std::runtime_error with a fixed lower-case message on hard failures; a
// failed write to `output` throws the StreamOutputError kind of it, so callers can tell a full
// disk from a bad file. They return only when done, but a large stream runs its cipher
// (encryption) or its digest (decryption) on a helper thread beside the calling one, which does
// all reading and writing: `input` and `output` are only ever touched by the calling thread.
// With a StreamProgress (see there), another thread can follow the call and cancel it, which
// ends the call with StreamCancelled.

enum DecryptResult
{
    DecryptOk = 0,
    DecryptIntegrityFailure = 1,
    DecryptVersionTooOld = 2,
    DecryptVersionTooNew = 3,
};

// Writes the whole stream for the `length` bytes that `input` delivers, in the format version of
// `derivation`. Part of the stream may already be in `output` when it throws.
void encryptStream(QDataStream& input, quint64 length, QDataStream& output,
                   const SecureStringHolder& password, StreamProgress* progress = nullptr,
                   KeyDerivation derivation = KeyDerivation::Pbkdf2);

// Returns a DecryptResult. The data go to `output` as they are decrypted, so `output` holds a
// verified plaintext only when the result is DecryptOk.
[[nodiscard]] int decryptStream(QDataStream& input, QDataStream& output,
                                const SecureStringHolder& password,
                                StreamProgress* progress = nullptr);
// The same with a key kept by the caller, which is derived only when it is not the one of this
// stream's header already (see StreamKey).
[[nodiscard]] int decryptStream(QDataStream& input, QDataStream& output, StreamKey& key,
                                StreamProgress* progress = nullptr);
