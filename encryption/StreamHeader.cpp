#include "StreamHeader.h"

#include "encryption/EncryptedStream.h"
#include "encryption/StreamOutputError.h"

#include <QDataStream>

#include <algorithm>
#include <stdexcept>

#include <openssl/rand.h>

namespace {

// The format's versions, not the program's release numbers: a later release keeps writing these,
// so that older readers can open what it writes (version 5), or refuse it as too new (6).
constexpr int oldestRead = 4;
constexpr int newestRead = 6;
constexpr int argon2Version = 6;
constexpr int costsSize = 9;

[[noreturn]] void fail(const char* message)
{
    throw std::runtime_error(message);
}

// A pipe may hand out fewer bytes than asked for.
bool readFully(QDataStream& input, unsigned char* data, int size)
{
    for (int got = 0; got < size;) {
        const int count = input.readRawData(reinterpret_cast<char*>(data) + got, size - got);
        if (count <= 0)
            return false;
        got += count;
    }
    return true;
}

quint32 littleEndian32(const unsigned char* bytes)
{
    return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 |
           quint32(bytes[3]) << 24;
}

void putLittleEndian32(unsigned char* bytes, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

StreamHeader StreamHeader::fresh(KeyDerivation derivation)
{
    StreamHeader header;
    if (derivation == KeyDerivation::Argon2id) {
        header.formatVersion = argon2Version;
        header.argon2Costs = Argon2id::written;
    }
    if (RAND_bytes(header.saltBytes, saltSize) != 1)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "random generator failed"));
    return header;
}

int StreamHeader::read(QDataStream& input)
{
    qint8 versionByte = 0;
    qint8 ignored = 0;
    input >> versionByte >> ignored;
    formatVersion = static_cast<quint8>(versionByte);
    if (formatVersion < oldestRead)
        return DecryptVersionTooOld;
    if (formatVersion > newestRead)
        return DecryptVersionTooNew;
    unsigned char rest[maxSize - 2];
    if (input.status() != QDataStream::Ok || !readFully(input, rest, size() - 2))
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "unexpected end of input"));
    const unsigned char* salt = rest;
    if (formatVersion == argon2Version) {
        argon2Costs = {littleEndian32(rest), littleEndian32(rest + 4), rest[8]};
        if (!Argon2id::acceptable(argon2Costs))
            fail(QT_TRANSLATE_NOOP("EncryptedStream", "invalid header data"));
        salt += costsSize;
    }
    std::copy(salt, salt + saltSize, saltBytes);
    return DecryptOk;
}

void StreamHeader::write(QDataStream& output) const
{
    // The second byte is written, never examined: 1 in version 5, 2 in version 6.
    unsigned char bytes[maxSize] = {formatVersion,
                                    static_cast<unsigned char>(formatVersion == 6 ? 2 : 1)};
    unsigned char* salt = bytes + 2;
    if (formatVersion == argon2Version) {
        putLittleEndian32(bytes + 2, argon2Costs.memoryKiB);
        putLittleEndian32(bytes + 6, argon2Costs.passes);
        bytes[10] = static_cast<unsigned char>(argon2Costs.lanes);
        salt += costsSize;
    }
    std::copy(saltBytes, saltBytes + saltSize, salt);
    if (output.writeRawData(reinterpret_cast<const char*>(bytes), size()) != size())
        throw StreamOutputError();
}
