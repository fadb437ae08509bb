#include "EncryptedStream.h"

#include "OpenSslPointers.h"
#include "StreamCancelled.h"
#include "StreamHeader.h"
#include "StreamKey.h"
#include "StreamOutputError.h"
#include "StreamProgress.h"
#include "StreamWorker.h"
#include "securememory/LockedMemory.h"
#include "securememory/SecureStringHolder.h"
#include "securememory/SecureWipe.h"

#include <QDataStream>

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

// 64 KiB pieces keep system calls and thread hand-overs rare against the work on them; four
// slots let the two threads run apart by up to three chunks. The fuzz build makes them small,
// so that its short inputs span many pieces and wrap the ring, as a large file does.
#ifndef VARNISK_STREAM_CHUNK_SIZE
#define VARNISK_STREAM_CHUNK_SIZE (64 * 1024)
#endif
constexpr int chunkSize = VARNISK_STREAM_CHUNK_SIZE;
constexpr int ringSlots = 4;
constexpr int blockSize = 16;
constexpr int digestSize = 32;
constexpr int maxPrefix = 32;
static_assert(chunkSize % blockSize == 0 && chunkSize >= 4 * blockSize);

// The messages are fixed English texts, which callers may rely on; they are marked for
// translation so that the user is told them in the user's language (OutcomeMessage).
[[noreturn]] void fail(const char* message)
{
    throw std::runtime_error(message);
}

DigestContext newDigest()
{
    DigestContext digest(EVP_MD_CTX_new());
    if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) == 0)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "error initializing hash"));
    return digest;
}

void hash(EVP_MD_CTX* digest, const void* data, std::size_t size)
{
    if (size > 0 && EVP_DigestUpdate(digest, data, size) == 0)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "error updating hash"));
}

void finishHash(EVP_MD_CTX* digest, unsigned char* out)
{
    if (EVP_DigestFinal_ex(digest, out, nullptr) == 0)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "error calculating hash"));
}

void writeAll(QDataStream& output, const unsigned char* data, int size)
{
    if (size > 0 && output.writeRawData(reinterpret_cast<const char*>(data), size) != size)
        throw StreamOutputError();
}

// Encrypts one of the small fields (total, prefix, digest) and writes what the cipher gives.
void encryptAndWrite(EVP_CIPHER_CTX* cipher, QDataStream& output, const unsigned char* data,
                     int size)
{
    unsigned char buffer[maxPrefix + blockSize];
    int produced = 0;
    if (EVP_EncryptUpdate(cipher, buffer, &produced, data, size) == 0)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "error encrypting"));
    writeAll(output, buffer, produced);
}

void throwIfCancelled(const StreamProgress* progress)
{
    if (progress != nullptr && progress->isCancelled())
        throw StreamCancelled();
}

// Reads the input in whole chunks. A pipe may hand out fewer bytes than asked for, so reads go
// on until the chunk is full or a read returns 0 or less; that read ends the input, and nothing
// is read after it, as if the input were read a piece at a time.
class ChunkReader
{
public:
    ChunkReader(QDataStream& stream, StreamProgress* streamProgress)
        : input(stream), progress(streamProgress)
    {}

    int read(unsigned char* data, int size)
    {
        int got = 0;
        while (got < size && !ended) {
            throwIfCancelled(progress);
            const int count = input.readRawData(reinterpret_cast<char*>(data) + got, size - got);
            if (count <= 0) {
                ended = true;
                break;
            }
            got += count;
            if (progress != nullptr)
                progress->addBytesRead(static_cast<quint64>(count));
        }
        return got;
    }

private:
    QDataStream& input;
    StreamProgress* const progress;
    bool ended = false;
};

// The chunks of one call, in locked memory that is wiped when the call ends, whichever way: the
// plaintext passes through them.
class ChunkMemory
{
public:
    explicit ChunkMemory(std::size_t bytes)
        : size(bytes), memory(static_cast<unsigned char*>(LockedMemory::allocate(bytes)))
    {}
    ~ChunkMemory() { LockedMemory::release(memory, size); }
    ChunkMemory(const ChunkMemory&) = delete;
    ChunkMemory& operator=(const ChunkMemory&) = delete;
    unsigned char* at(std::size_t offset) const { return memory + offset; }

private:
    const std::size_t size;
    unsigned char* const memory;
};
static_assert(isUncopyable<ChunkMemory>);

// Splits the decrypted record into total, prefix, data, digest and trailing bytes, whatever
// the chunk boundaries are, and writes the data out. The digest is the caller's: each chunk
// holds at most one stretch of prefix and data, which feed() reports for hashing.
class RecordReader
{
public:
    RecordReader(QDataStream& sink, int streamVersion) : output(sink), version(streamVersion) {}

    struct Piece
    {
        bool valid = true; // false: the record cannot be valid any more (version 5 or 6 with bytes
                           // after the digest); the caller reports an integrity failure at once
        int bodyStart = 0; // the stretch of prefix and data in this chunk
        int bodySize = 0;
    };

    Piece feed(const unsigned char* data, int size)
    {
        Piece piece;
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
                const int take = static_cast<int>(std::min<qint64>(total - bodyRead, size - pos));
                consumeBody(data + pos, take);
                piece.bodyStart = pos;
                piece.bodySize = take;
                pos += take;
            } else if (digestRead < digestSize) {
                const int take = std::min(digestSize - digestRead, size - pos);
                std::memcpy(storedDigest.data() + digestRead, data + pos, take);
                digestRead += take;
                pos += take;
            } else {
                // Version 4 may carry bytes past the digest; versions 5 and 6 never do.
                if (version != 4)
                    piece.valid = false;
                pos = size;
            }
        }
        return piece;
    }

    // Whether the whole record was there and `computed` (the digest of prefix and data)
    // matches the one it carries.
    bool complete(const unsigned char* computed) const
    {
        const bool whole = totalRead == 8 && bodyRead == total && prefixLength <= total &&
                           total >= 1 && digestRead == digestSize;
        return whole && CRYPTO_memcmp(computed, storedDigest.data(), digestSize) == 0;
    }

private:
    void startBody()
    {
        qint64 value = 0;
        for (int i = 7; i >= 0; --i)
            value = static_cast<qint64>((static_cast<quint64>(value) << 8) | totalBytes[i]);
        if (value < 0)
            fail(QT_TRANSLATE_NOOP("EncryptedStream", "invalid header data"));
        total = value;
    }

    void consumeBody(const unsigned char* data, int size)
    {
        int skip = 0;
        if (bodyRead == 0) {
            // The first prefix byte tells the prefix length, counted in eight bits: 0xFF would
            // make it 0, and that byte data. No writer makes a prefix of less than one byte.
            if (data[0] == 0xFF)
                fail(QT_TRANSLATE_NOOP("EncryptedStream", "invalid header data"));
            prefixLength = data[0] + 1;
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
                   const SecureStringHolder& password, StreamProgress* progress,
                   KeyDerivation derivation)
{
    const StreamHeader header = StreamHeader::fresh(derivation);
    header.write(output);

    StreamKey key(password);
    key.derive(header);

    CipherContext cipher(EVP_CIPHER_CTX_new());
    if (!cipher ||
        EVP_EncryptInit_ex(cipher.get(), EVP_aes_256_cbc(), nullptr, key.key(), key.iv()) == 0)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "error setting up cipher"));
    EVP_CIPHER_CTX_set_padding(cipher.get(), 1);

    DigestContext digest = newDigest();

    unsigned char prefix[maxPrefix];
    if (RAND_bytes(prefix, maxPrefix) != 1)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "random generator failed"));
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

    // The data: the helper encrypts a chunk while this thread hashes it, reads the next one
    // and writes the ciphertext of those before it, in order.
    const ChunkMemory memory(ringSlots * (2 * chunkSize + blockSize));
    const auto plain = [&](int slot) { return memory.at(slot * chunkSize); };
    const auto sealed = [&](int slot) {
        return memory.at(ringSlots * chunkSize + slot * (chunkSize + blockSize));
    };
    std::array<int, ringSlots> sizes = {};
    std::array<int, ringSlots> produced = {};
    StreamWorker worker(
        ringSlots,
        [&](int slot) {
            return EVP_EncryptUpdate(cipher.get(), sealed(slot), &produced[slot], plain(slot),
                                     sizes[slot]) == 1;
        },
        QT_TRANSLATE_NOOP("EncryptedStream", "error encrypting"));
    quint64 written = 0;
    const auto writeUpTo = [&](quint64 jobs) {
        worker.waitUntilFinished(jobs);
        for (; written < jobs; ++written) {
            const int slot = static_cast<int>(written % ringSlots);
            writeAll(output, sealed(slot), produced[slot]);
        }
    };

    ChunkReader reader(input, progress);
    quint64 remaining = length;
    for (;;) {
        const quint64 job = worker.submitted();
        if (job >= ringSlots)
            writeUpTo(job - ringSlots + 1);
        const int slot = worker.nextSlot();
        // Asking for one byte more than is still due shows an input longer than announced (a
        // device, a growing file) as soon as it shows, without reading on.
        const int wanted = remaining < chunkSize ? static_cast<int>(remaining) + 1 : chunkSize;
        const int count = reader.read(plain(slot), wanted);
        if (count == 0)
            break;
        if (static_cast<quint64>(count) > remaining) {
            writeUpTo(job);
            fail(QT_TRANSLATE_NOOP("EncryptedStream", "stream length parameter has wrong value"));
        }
        sizes[slot] = count;
        worker.submit(count == chunkSize);
        hash(digest.get(), plain(slot), count);
        remaining -= static_cast<quint64>(count);
        writeUpTo(worker.finished());
    }
    writeUpTo(worker.submitted());
    if (remaining != 0)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "stream length parameter has wrong value"));

    unsigned char sum[digestSize];
    finishHash(digest.get(), sum);
    encryptAndWrite(cipher.get(), output, sum, digestSize);

    unsigned char last[blockSize];
    int lastSize = 0;
    if (EVP_EncryptFinal_ex(cipher.get(), last, &lastSize) == 0)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "error encrypting final block"));
    writeAll(output, last, lastSize);
}

int decryptStream(QDataStream& input, QDataStream& output, const SecureStringHolder& password,
                  StreamProgress* progress)
{
    StreamKey key(password);
    return decryptStream(input, output, key, progress);
}

int decryptStream(QDataStream& input, QDataStream& output, StreamKey& key, StreamProgress* progress)
{
    StreamHeader header;
    if (const int refused = header.read(input); refused != DecryptOk)
        return refused;
    const int version = header.version();
    if (progress != nullptr)
        progress->addBytesRead(static_cast<quint64>(header.size()));
    // Before the derivation, which no cancel can interrupt.
    throwIfCancelled(progress);

    key.derive(header);
    ChunkReader reader(input, progress);

    CipherContext cipher(EVP_CIPHER_CTX_new());
    if (!cipher ||
        EVP_DecryptInit_ex(cipher.get(), EVP_aes_256_cbc(), nullptr, key.key(), key.iv()) == 0)
        fail(QT_TRANSLATE_NOOP("EncryptedStream", "error setting up cipher"));
    EVP_CIPHER_CTX_set_padding(cipher.get(), version == 4 ? 0 : 1);

    DigestContext digest = newDigest();
    RecordReader record(output, version);

    // This thread reads, decrypts and writes; the helper hashes the prefix and data of each
    // decrypted chunk, which stays in its slot until then.
    const ChunkMemory memory(chunkSize + ringSlots * (chunkSize + blockSize));
    unsigned char* const sealed = memory.at(0);
    const auto plain = [&](int slot) {
        return memory.at(chunkSize + slot * (chunkSize + blockSize));
    };
    std::array<int, ringSlots> hashStart = {};
    std::array<int, ringSlots> hashSize = {};
    StreamWorker worker(
        ringSlots,
        [&](int slot) {
            return EVP_DigestUpdate(digest.get(), plain(slot) + hashStart[slot],
                                    static_cast<std::size_t>(hashSize[slot])) == 1;
        },
        QT_TRANSLATE_NOOP("EncryptedStream", "error updating hash"));

    for (bool last = false; !last;) {
        const quint64 job = worker.submitted();
        if (job >= ringSlots)
            worker.waitUntilFinished(job - ringSlots + 1);
        const int slot = worker.nextSlot();
        const int count = reader.read(sealed, chunkSize);
        int produced = 0;
        if (count > 0) {
            if (EVP_DecryptUpdate(cipher.get(), plain(slot), &produced, sealed, count) == 0)
                fail(QT_TRANSLATE_NOOP("EncryptedStream", "error decrypting"));
        } else {
            last = true;
            if (EVP_DecryptFinal_ex(cipher.get(), plain(slot), &produced) == 0)
                fail(QT_TRANSLATE_NOOP("EncryptedStream", "error decrypting final block"));
        }
        if (produced == 0)
            continue;
        const RecordReader::Piece piece = record.feed(plain(slot), produced);
        if (!piece.valid)
            return DecryptIntegrityFailure;
        if (piece.bodySize > 0) {
            hashStart[slot] = piece.bodyStart;
            hashSize[slot] = piece.bodySize;
            worker.submit(count == chunkSize);
        }
    }
    worker.waitUntilFinished(worker.submitted());
    unsigned char computed[digestSize];
    finishHash(digest.get(), computed);
    return record.complete(computed) ? DecryptOk : DecryptIntegrityFailure;
}
