#pragma once

#include "encryption/Argon2id.h"
#include "encryption/KeyDerivation.h"

#include <QtGlobal>

class QDataStream;

// The clear start of every stream: the format version, a second byte that no reader examines,
// for version 6 the costs of its key derivation, and the salt. Nothing in it is secret, so it
// can be told without the password:
//   version 4 and 5: version, 1, salt (16 bytes)                                   18 bytes
//   version 6:       6, 2, memory in KiB (u32 LE), passes (u32 LE), lanes (1 byte), salt
//                                                                                 27 bytes
class StreamHeader
{
public:
    static constexpr int saltSize = 16;
    static constexpr int maxSize = 27;

    // A header to write: the version of `derivation`, its written costs and a fresh salt from
    // RAND_bytes (throws "random generator failed").
    [[nodiscard]] static StreamHeader fresh(KeyDerivation derivation);
    // Reads a header and returns a DecryptResult: DecryptOk, or the version is one this program
    // does not read (nothing after the first two bytes was read then). Throws "unexpected end
    // of input" when the input ends inside the header, and "invalid header data" for costs
    // that no writer uses, before anything is allocated for them.
    [[nodiscard]] int read(QDataStream& input);
    // Throws StreamOutputError when `output` takes less.
    void write(QDataStream& output) const;

    [[nodiscard]] int version() const { return formatVersion; }
    [[nodiscard]] KeyDerivation derivation() const
    {
        return formatVersion == 6 ? KeyDerivation::Argon2id : KeyDerivation::Pbkdf2;
    }
    // Version 6 only.
    [[nodiscard]] const Argon2id::Costs& costs() const { return argon2Costs; }
    [[nodiscard]] const unsigned char* salt() const { return saltBytes; }
    [[nodiscard]] int size() const { return formatVersion == 6 ? maxSize : 2 + saltSize; }

private:
    quint8 formatVersion = 5;
    Argon2id::Costs argon2Costs;
    unsigned char saltBytes[saltSize] = {};
};
