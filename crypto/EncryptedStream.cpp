#include "EncryptedStream.h"

#include "SecureStringHolder.h"
#include "StreamOutputError.h"

#include <QDataStream>

#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

// The two header bytes of every stream written. They are the format's, not the program's
// release number: a later release keeps writing 5 and 1, so older readers can open its files.
constexpr unsigned char formatVersion = 5;
constexpr unsigned char formatMinor = 1;

constexpr int chunkSize = 4096;
constexpr int blockSize = 16;
constexpr int saltSize = 16;
constexpr int keySize = 32;
constexpr int digestSize = 32;
constexpr int iterations = 1000;
constexpr int maxPrefix = 32;

struct CipherContextFree
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

struct DigestContextFree
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

[[noreturn]] void fail(const char* message)
{
    throw std::runtime_error(message);
}

// Key and IV material, wiped when it goes out of scope.
struct KeyMaterial
{
    unsigned char bytes[keySize + blockSize];
    ~KeyMaterial() { OPENSSL_cleanse(bytes, sizeof bytes); }
    const unsigned char* key() const { return bytes; }
    const unsigned char* iv() const { return bytes + keySize; }
};

void deriveKey(const SecureStringHolder& password, const unsigned char* salt, KeyMaterial& out)
{
    const SecureString& secret = password.string();
    if (secret.size() > static_cast<std::size_t>(INT_MAX))
        fail("error setting up cipher parameters");
    if (PKCS5_PBKDF2_HMAC_SHA1(secret.data(), static_cast<int>(secret.size()), salt, saltSize,
                               iterations, sizeof out.bytes, out.bytes) == 0)
        fail("error setting up cipher parameters");
}

DigestContext newDigest()
{
    DigestContext digest(EVP_MD_CTX_new());
    if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) == 0)
        fail("error initializing hash");
    return digest;
}

void hash(EVP_MD_CTX* digest, const void* data, std::size_t size)
{
    if (size > 0 && EVP_DigestUpdate(digest, data, size) == 0)
        fail("error updating hash");
}

void finishHash(EVP_MD_CTX* digest, unsigned char* out)
{
    if (EVP_DigestFinal_ex(digest, out, nullptr) == 0)
        fail("error calculating hash");
}

// A pipe may hand out fewer bytes than asked for; only the end of the input comes up short.
int readFully(QDataStream& input, unsigned char* data, int size)
{
    int got = 0;
    while (got < size) {
        const int count = input.readRawData(reinterpret_cast<char*>(data) + got, size - got);
        if (count <= 0)
            break;
        got += count;
    }
    return got;
}

void writeAll(QDataStream& output, const unsigned char* data, int size)
{
    if (size > 0 && output.writeRawData(reinterpret_cast<const char*>(data), size) != size)
        throw StreamOutputError();
}

// Encrypts `size` bytes and writes whatever the cipher gives back.
void encryptAndWrite(EVP_CIPHER_CTX* cipher, QDataStream& output, const unsigned char* data,
                     int size)
{
    unsigned char buffer[chunkSize + blockSize];
    int produced = 0;
    if (EVP_EncryptUpdate(cipher, buffer, &produced, data, size) == 0)
        fail("error encrypting");
    writeAll(output, buffer, produced);
    OPENSSL_cleanse(buffer, sizeof buffer);
}

// Splits the decrypted record into total, prefix, data, digest and trailing bytes, whatever
// the chunk boundaries are, hashing prefix and data and writing the data out.
class RecordReader
{
public:
    RecordReader(QDataStream& sink, int streamVersion) : output(sink), version(streamVersion) {}

    // Returns false when the record cannot be valid any more (version 5 with bytes after the
    // digest); the caller then reports an integrity failure at once.
    bool feed(const unsigned char* data, int size)
    {
        int pos = 0;
        while (pos < size) {
            if (totalRead < 8) {
                const int take = std::min(8 - totalRead, size - pos);
                std::memcpy(totalBytes + totalRead, data + pos, take);
                totalRead += take;
                pos += take;
                if (totalRead == 8)
                    startBody();
            } else if (bodyRead < total) {
                const qint64 take = std::min<qint64>(total - bodyRead, size - pos);
                consumeBody(data + pos, static_cast<int>(take));
                pos += static_cast<int>(take);
            } else if (digestRead < digestSize) {
                const int take = std::min(digestSize - digestRead, size - pos);
                std::memcpy(storedDigest.data() + digestRead, data + pos, take);
                digestRead += take;
                pos += take;
            } else {
                // Version 4 may carry bytes past the digest; version 5 never does.
                if (version != 4)
                    return false;
                pos = size;
            }
        }
        return true;
    }

    bool complete()
    {
        unsigned char computed[digestSize];
        const bool whole = totalRead == 8 && bodyRead == total && prefixLength <= total &&
                           total >= 1 && digestRead == digestSize;
        finishHash(digest, computed);
        return whole && CRYPTO_memcmp(computed, storedDigest.data(), digestSize) == 0;
    }

    EVP_MD_CTX* digest = nullptr;

private:
    void startBody()
    {
        qint64 value = 0;
        for (int i = 7; i >= 0; --i)
            value = static_cast<qint64>((static_cast<quint64>(value) << 8) | totalBytes[i]);
        if (value < 0)
            fail("invalid header data");
        total = value;
    }

    void consumeBody(const unsigned char* data, int size)
    {
        hash(digest, data, size);
        int skip = 0;
        if (bodyRead == 0) {
            // The first prefix byte tells the prefix length, counted in eight bits.
            prefixLength = static_cast<unsigned char>(data[0] + 1);
        }
        if (bodyRead < prefixLength)
            skip = static_cast<int>(std::min<qint64>(prefixLength - bodyRead, size));
        if (size > skip)
            writeAll(output, data + skip, size - skip);
        bodyRead += size;
    }

    QDataStream& output;
    const int version;
    unsigned char totalBytes[8] = {};
    int totalRead = 0;
    qint64 total = 0;
    qint64 bodyRead = 0;
    qint64 prefixLength = 0;
    std::array<unsigned char, digestSize> storedDigest = {};
    int digestRead = 0;
};

} // namespace

void encryptStream(QDataStream& input, quint64 length, QDataStream& output,
                   const SecureStringHolder& password)
{
    output << static_cast<qint8>(formatVersion) << static_cast<qint8>(formatMinor);

    unsigned char salt[saltSize];
    if (RAND_bytes(salt, saltSize) != 1)
        fail("random generator failed");
    writeAll(output, salt, saltSize);

    KeyMaterial keyMaterial;
    deriveKey(password, salt, keyMaterial);

    CipherContext cipher(EVP_CIPHER_CTX_new());
    if (!cipher || EVP_EncryptInit_ex(cipher.get(), EVP_aes_256_cbc(), nullptr, keyMaterial.key(),
                                      keyMaterial.iv()) == 0)
        fail("error setting up cipher");
    EVP_CIPHER_CTX_set_padding(cipher.get(), 1);

    DigestContext digest = newDigest();

    unsigned char prefix[maxPrefix];
    if (RAND_bytes(prefix, maxPrefix) != 1)
        fail("random generator failed");
    prefix[0] &= 31;
    const int prefixLength = prefix[0] + 1;

    unsigned char total[8];
    quint64 value = length + static_cast<quint64>(prefixLength);
    for (unsigned char& byte : total) {
        byte = static_cast<unsigned char>(value & 0xff);
        value >>= 8;
    }
    encryptAndWrite(cipher.get(), output, total, sizeof total);

    hash(digest.get(), prefix, prefixLength);
    encryptAndWrite(cipher.get(), output, prefix, prefixLength);

    unsigned char chunk[chunkSize];
    quint64 remaining = length;
    for (;;) {
        const int count = input.readRawData(reinterpret_cast<char*>(chunk), chunkSize);
        if (count <= 0)
            break;
        // An input longer than announced (a device, a growing file) is refused as soon as it
        // shows, not after writing all of it.
        if (static_cast<quint64>(count) > remaining) {
            OPENSSL_cleanse(chunk, sizeof chunk);
            fail("stream length parameter has wrong value");
        }
        hash(digest.get(), chunk, count);
        encryptAndWrite(cipher.get(), output, chunk, count);
        remaining -= static_cast<quint64>(count);
    }
    OPENSSL_cleanse(chunk, sizeof chunk);
    if (remaining != 0)
        fail("stream length parameter has wrong value");

    unsigned char sum[digestSize];
    finishHash(digest.get(), sum);
    encryptAndWrite(cipher.get(), output, sum, digestSize);

    unsigned char last[blockSize];
    int produced = 0;
    if (EVP_EncryptFinal_ex(cipher.get(), last, &produced) == 0)
        fail("error encrypting final block");
    writeAll(output, last, produced);
}

int decryptStream(QDataStream& input, QDataStream& output, const SecureStringHolder& password)
{
    qint8 versionByte = 0;
    qint8 minorByte = 0;
    input >> versionByte >> minorByte;
    const unsigned version = static_cast<quint8>(versionByte);
    if (version < 4)
        return DecryptVersionTooOld;
    if (version > 5)
        return DecryptVersionTooNew;

    unsigned char salt[saltSize];
    if (readFully(input, salt, saltSize) != saltSize)
        fail("unexpected end of input");

    KeyMaterial keyMaterial;
    deriveKey(password, salt, keyMaterial);

    CipherContext cipher(EVP_CIPHER_CTX_new());
    if (!cipher || EVP_DecryptInit_ex(cipher.get(), EVP_aes_256_cbc(), nullptr, keyMaterial.key(),
                                      keyMaterial.iv()) == 0)
        fail("error setting up cipher");
    EVP_CIPHER_CTX_set_padding(cipher.get(), version == 5 ? 1 : 0);

    DigestContext digest = newDigest();
    RecordReader record(output, static_cast<int>(version));
    record.digest = digest.get();

    unsigned char chunk[chunkSize];
    unsigned char plain[chunkSize + blockSize];
    for (bool last = false; !last;) {
        const int count = input.readRawData(reinterpret_cast<char*>(chunk), chunkSize);
        int produced = 0;
        if (count > 0) {
            if (EVP_DecryptUpdate(cipher.get(), plain, &produced, chunk, count) == 0)
                fail("error decrypting");
        } else {
            last = true;
            if (EVP_DecryptFinal_ex(cipher.get(), plain, &produced) == 0)
                fail("error decrypting final block");
        }
        if (produced > 0 && !record.feed(plain, produced)) {
            OPENSSL_cleanse(plain, sizeof plain);
            return DecryptIntegrityFailure;
        }
    }
    OPENSSL_cleanse(plain, sizeof plain);
    return record.complete() ? DecryptOk : DecryptIntegrityFailure;
}
