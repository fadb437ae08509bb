// The encrypted stream format, checked against the openssl command-line tool: streams built
// byte by byte with openssl must decrypt, streams we write must open with openssl, and every
// damaged or foreign stream must fail the way callers expect. Sizes sit around the engine's
// 64 KiB pieces, and the engine with its helper thread must give what it gives on one processor.

#include "OpensslStream.h"
#include "TestSupport.h"
#include "encryption/Argon2id.h"
#include "encryption/EncryptedStream.h"
#include "encryption/StreamCancelled.h"
#include "encryption/StreamKey.h"
#include "encryption/StreamOutputError.h"
#include "encryption/StreamProgress.h"
#include "securememory/SecureStringHolder.h"

#include <QBuffer>
#include <QDataStream>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>

namespace {

using namespace OpensslStream;
using TestSupport::randomBytes;

constexpr int chunk = 64 * 1024; // the engine's piece size

const QByteArray unicodePassword = "pässwörd€😀";

// Hands out bytes like a pipe: at most `step` per read (0: as many as asked for), and every
// read from position `failAt` on fails (-1: none does). `atPause` runs once, inside the read
// that reaches position `pauseAt`, before it returns; it is given where that read started.
class Source : public QIODevice
{
public:
    explicit Source(const QByteArray& bytes, int bytesPerRead = 0, qint64 failPosition = -1)
        : data(bytes), step(bytesPerRead), failAt(failPosition)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 delivered() const { return position; }

    qint64 pauseAt = -1;
    std::function<void(qint64)> atPause;

protected:
    qint64 readData(char* out, qint64 maxSize) override
    {
        if (failAt >= 0 && position >= failAt)
            return -1;
        const qint64 start = position;
        qint64 count = qMin<qint64>(maxSize, data.size() - position);
        if (step > 0)
            count = qMin<qint64>(count, step);
        for (const qint64 limit : {failAt, pauseAt}) {
            if (limit > position)
                count = qMin(count, limit - position);
        }
        std::memcpy(out, data.constData() + position, static_cast<std::size_t>(count));
        position += count;
        if (position == pauseAt && atPause)
            std::exchange(atPause, nullptr)(start);
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data;
    int step;
    qint64 failAt;
    qint64 position = 0;
};

// Collects what is written. A write that would take it past `limit` bytes (-1: no limit)
// fails whole, like a full disk.
class Sink : public QBuffer
{
public:
    explicit Sink(qint64 byteLimit = -1) : limit(byteLimit) { open(QIODevice::WriteOnly); }

protected:
    qint64 writeData(const char* in, qint64 size) override
    {
        return limit >= 0 && buffer().size() + size > limit ? -1 : QBuffer::writeData(in, size);
    }

private:
    qint64 limit;
};

struct Outcome
{
    int result = -1;     // decryption's result; -1 after a throw
    QString error;       // the message of what was thrown; "cancelled" for StreamCancelled
    bool output = false; // what was thrown is a StreamOutputError
    QByteArray written;
};

Outcome run(bool encrypting, QIODevice& input, quint64 length, const QByteArray& password,
            qint64 writeLimit = -1, StreamProgress* progress = nullptr,
            KeyDerivation derivation = KeyDerivation::Pbkdf2)
{
    SecureStringHolder holder;
    TestSupport::setPassword(holder, password);
    Sink sink(writeLimit);
    QDataStream in(&input);
    in.setByteOrder(QDataStream::LittleEndian);
    QDataStream out(&sink);
    out.setByteOrder(QDataStream::LittleEndian);
    Outcome outcome;
    try {
        if (encrypting)
            encryptStream(in, length, out, holder, progress, derivation);
        else
            outcome.result = decryptStream(in, out, holder, progress);
    } catch (const StreamCancelled&) {
        outcome.error = QStringLiteral("cancelled");
    } catch (const std::runtime_error& error) {
        outcome.error = QString::fromUtf8(error.what());
        outcome.output = dynamic_cast<const StreamOutputError*>(&error) != nullptr;
    }
    outcome.written = sink.data();
    return outcome;
}

QByteArray encrypt(const QByteArray& data, const QByteArray& password,
                   KeyDerivation derivation = KeyDerivation::Pbkdf2)
{
    Source source(data);
    return run(true, source, static_cast<quint64>(data.size()), password, -1, nullptr, derivation)
        .written;
}

Outcome decrypt(const QByteArray& stream, const QByteArray& password)
{
    Source source(stream);
    return run(false, source, 0, password);
}

} // namespace

class TestEncryptedStream : public QObject
{
    Q_OBJECT

private slots:
    void argon2KnownAnswer();
    void roundTrip_data();
    void roundTrip();
    void wrongLength_data();
    void wrongLength();
    void versionBytes_data();
    void versionBytes();
    void refusedCosts_data();
    void refusedCosts();
    void keptKey_data();
    void keptKey();
    void opensslStreams_data();
    void opensslStreams();
    void streamFaults_data();
    void streamFaults();
    void progressAndCancel_data();
    void progressAndCancel();
};

void TestEncryptedStream::argon2KnownAnswer()
{
    // The reference implementation's own test vector for Argon2id v1.3.
    unsigned char out[32];
    Argon2id::derive("password", 8, reinterpret_cast<const unsigned char*>("somesalt"), 8,
                     {65536, 2, 1}, out, sizeof out);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), 32).toHex(),
             QByteArray("09316115d5cf24ed5a15a31a3ba326e5cf32edc24702987c02b6566f61913cf7"));
}

void TestEncryptedStream::roundTrip_data()
{
    // Every write has a salt and a prefix of its own; the prefix length K (1 to 32) decides
    // the size. The first eight writes of a row are opened with openssl, the rest with ours.
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("writes");
    QTest::addColumn<QList<int>>("sizes"); // all must be seen; empty: not checked
    QTest::addColumn<bool>("argon2");      // version 6
    QTest::newRow("empty data: 66, 82 and 98 bytes")
        << QByteArray() << 0 << 60 << QList<int>{66, 82, 98} << false;
    QTest::newRow("1 byte, ascii: K varies")
        << QByteArray("correct horse") << 1 << 8 << QList<int>() << false;
    QTest::newRow("a piece less one")
        << QByteArray("secret") << chunk - 1 << 2 << QList<int>() << false;
    QTest::newRow("a piece, empty password") << QByteArray() << chunk << 2 << QList<int>() << false;
    QTest::newRow("a piece and one, utf-8")
        << unicodePassword << chunk + 1 << 2 << QList<int>() << false;
    QTest::newRow("five pieces and one")
        << QByteArray("pw") << 5 * chunk + 1 << 2 << QList<int>() << false;
    QTest::newRow("version 6, a piece and one, utf-8")
        << unicodePassword << chunk + 1 << 1 << QList<int>() << true;
}

void TestEncryptedStream::roundTrip()
{
    QFETCH(QByteArray, password);
    QFETCH(int, length);
    QFETCH(int, writes);
    QFETCH(QList<int>, sizes);
    QFETCH(bool, argon2);
    // Version 6 is written with its constant costs: 256 MiB, 3 passes, 2 lanes.
    const QByteArray header =
        argon2 ? QByteArray::fromHex("06020000040003000000") + '\x02' : QByteArray("\x05\x01");
    const int headerSize = header.size() + 16;
    const QByteArray data = randomBytes(length);
    QSet<QByteArray> salts, prefixes, bodies;
    QSet<int> prefixLengths, seenSizes;
    int longPrefixes = 0;
    for (int i = 0; i < writes; ++i) {
        const QByteArray stream =
            encrypt(data, password, argon2 ? KeyDerivation::Argon2id : KeyDerivation::Pbkdf2);
        QCOMPARE(stream.left(header.size()).toHex(), header.toHex());
        salts.insert(stream.mid(header.size(), 16));
        bodies.insert(stream.mid(headerSize));
        seenSizes.insert(stream.size());
        const Outcome back = decrypt(stream, password);
        QCOMPARE(back.error, QString());
        QCOMPARE(back.result, int(DecryptOk));
        QVERIFY(back.written == data);
        if (i >= 8)
            continue;
        const Record record = OpensslStream::open(stream, password);
        QVERIFY(record.ok);
        const int prefixLength = record.prefix.size();
        QVERIFY(prefixLength <= 32);
        QCOMPARE(record.total, qint64(length + prefixLength));
        QVERIFY(record.data == data);
        QCOMPARE(record.digest.toHex(), sha256(record.prefix + data).toHex());
        QVERIFY(record.rest.isEmpty());
        QCOMPARE(stream.size(), headerSize + 16 * ((40 + prefixLength + length) / 16 + 1));
        prefixLengths.insert(prefixLength);
        // Short prefixes repeat by chance (two one-byte ones are both just the byte 0).
        if (prefixLength > 4) {
            prefixes.insert(record.prefix);
            ++longPrefixes;
        }
    }
    QCOMPARE(salts.size(), writes);
    QCOMPARE(bodies.size(), writes);
    QCOMPARE(prefixes.size(), longPrefixes);
    if (writes >= 8)
        QVERIFY(prefixLengths.size() > 1); // all eight alike: 1 in 2^35
    if (!sizes.isEmpty())
        QCOMPARE(seenSizes, QSet<int>(sizes.begin(), sizes.end()));
}

void TestEncryptedStream::wrongLength_data()
{
    QTest::addColumn<int>("delivered");
    QTest::addColumn<int>("claimed");
    // Data bytes encrypted before the refusal: all of a short input; of a long one, the pieces
    // read before the byte past the announced length showed.
    QTest::addColumn<int>("accepted");
    QTest::newRow("100 bytes, length 101") << 100 << 101 << 100;
    QTest::newRow("100 bytes, length 99") << 100 << 99 << 0;
    QTest::newRow("16 bytes, length 0") << 16 << 0 << 0;
    QTest::newRow("a piece, length one more") << chunk << chunk + 1 << chunk;
    QTest::newRow("a piece and one, length a piece") << chunk + 1 << chunk << chunk;
    QTest::newRow("three pieces, length one less") << 3 * chunk << 3 * chunk - 1 << 2 * chunk;
}

void TestEncryptedStream::wrongLength()
{
    QFETCH(int, delivered);
    QFETCH(int, claimed);
    QFETCH(int, accepted);
    const QByteArray data = randomBytes(delivered);
    Source source(data);
    const Outcome outcome = run(true, source, static_cast<quint64>(claimed), "pw");
    QCOMPARE(outcome.error, QStringLiteral("stream length parameter has wrong value"));

    // Header, salt, and the whole blocks of total, prefix and data were written; no digest.
    const QByteArray& partial = outcome.written;
    QCOMPARE(partial.left(2), QByteArray("\x05\x01"));
    QVERIFY(partial.size() >= 18);
    QCOMPARE((partial.size() - 18) % 16, 0);
    if (partial.size() == 18) {
        // Total and a prefix of less than 8 bytes, and no data: not one whole block yet.
        QCOMPARE(accepted, 0);
        return;
    }
    const Record record = OpensslStream::open(partial, "pw", false);
    QVERIFY(record.ok);
    const int prefixLength = static_cast<unsigned char>(record.prefix.at(0)) + 1;
    QVERIFY(prefixLength <= 32);
    QCOMPARE(record.total, qint64(claimed + prefixLength));
    QCOMPARE(partial.size() - 18, (8 + prefixLength + accepted) / 16 * 16);
    QVERIFY(data.startsWith(record.data));
}

void TestEncryptedStream::versionBytes_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("result");
    QTest::newRow("empty input") << QByteArray() << int(DecryptVersionTooOld);
    QTest::newRow("version 0") << QByteArray("\x00\x01", 2) << int(DecryptVersionTooOld);
    QTest::newRow("version 3") << QByteArray("\x03\x01") << int(DecryptVersionTooOld);
    QTest::newRow("version 7, newer than this reader")
        << QByteArray("\x07\x02") << int(DecryptVersionTooNew);
    QTest::newRow("version 0x80 (negative as signed)")
        << QByteArray("\x80\x01") << int(DecryptVersionTooNew);
}

void TestEncryptedStream::versionBytes()
{
    QFETCH(QByteArray, header);
    QFETCH(int, result);
    // A valid body behind the foreign header must not even be looked at.
    QByteArray stream = encrypt("data", "pw");
    stream = header.isEmpty() ? QByteArray() : header + stream.mid(2);
    Source source(stream);
    const Outcome outcome = run(false, source, 0, "pw");
    QCOMPARE(outcome.result, result);
    QVERIFY(outcome.written.isEmpty());
    QVERIFY(source.delivered() <= 2);
}

void TestEncryptedStream::opensslStreams_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QByteArray>("written"); // what must reach the output; null: not checked

    const QByteArray data = "account: alice / password: hunter2";
    const QByteArray prefix = QByteArray("\x04") + "abcd";
    const QByteArray good = record(prefix, data);
    const QByteArray digest = sha256(prefix + data);
    const QByteArray total = littleEndian64(prefix.size() + data.size());
    const QByteArray bigData = randomBytes(5 * chunk + 1);
    const QByteArray fullPrefix = QByteArray("\x1f") + randomBytes(31);
    const int failure = DecryptIntegrityFailure;

    auto row = [&](const char* name, char version, const QByteArray& password,
                   const QByteArray& plain, int result, const QString& error,
                   const QByteArray& written) {
        QTest::newRow(name) << password << stream(version, password, plain) << result << error
                            << written;
    };
    // A record of `length` data bytes behind the five prefix bytes, so that the data start at
    // record offset 13. Decrypted pieces end at record offsets 65520, 131056, ... in version 5
    // (the cipher keeps the last block back for the padding) and 65536, ... in version 4.
    auto sized = [&](int length, const QByteArray& after = {}) {
        return record(prefix, bigData.left(length)) + after;
    };

    row("v5 empty data, K = 1", 5, "pw", record(QByteArray(1, '\0'), {}), DecryptOk, {},
        QByteArray(""));
    row("v5 K = 32", 5, unicodePassword, record(fullPrefix, "hello"), DecryptOk, {}, "hello");
    row("v5 data end at a piece's end", 5, {}, sized(65507), DecryptOk, {}, bigData.left(65507));
    row("v5 digest split by a piece's end", 5, "pw", sized(65490), DecryptOk, {},
        bigData.left(65490));
    row("v5 five pieces and one", 5, "pw", sized(5 * chunk + 1), DecryptOk, {}, bigData);

    QByteArray tampered = good;
    tampered[tampered.size() - 1] = static_cast<char>(tampered.at(tampered.size() - 1) ^ 1);
    row("v5 digest differs", 5, "pw", tampered, failure, {}, data);
    tampered = good;
    tampered[20] = static_cast<char>(tampered.at(20) ^ 0x40);
    row("v5 data differs", 5, "pw", tampered, failure, {}, {});
    row("v5 digest over total too", 5, "pw", total + prefix + data + sha256(total + prefix + data),
        failure, {}, {});
    row("v5 31 digest bytes", 5, "pw", good.left(good.size() - 1), failure, {}, {});
    row("v5 1 byte after digest", 5, "pw", good + "x", failure, {}, {});
    row("v5 40 bytes after digest", 5, "pw", good + QByteArray(40, 'x'), failure, {}, {});
    row("v5 byte after digest in the next piece", 5, "pw", sized(65475, "x"), failure, {},
        bigData.left(65475));
    row("v5 total one too large", 5, "pw",
        littleEndian64(prefix.size() + data.size() + 1) + prefix + data + digest, failure, {}, {});
    row("v5 total one too small", 5, "pw",
        littleEndian64(prefix.size() + data.size() - 1) + prefix + data + digest, failure, {}, {});
    row("v5 total far beyond the data", 5, "pw",
        littleEndian64(Q_INT64_C(1) << 40) + prefix + data + digest, failure, {}, {});
    row("v5 negative total", 5, "pw", littleEndian64(-1) + prefix + data + digest, -1,
        "invalid header data", {});
    row("v5 first prefix byte 0xFF: no prefix", 5, "pw", record("\xff", data), -1,
        "invalid header data", "");

    // Version 6: the same record behind a key from Argon2id with the costs its header names:
    // those written, and the extremes a reader takes (as far as they stay cheap).
    const auto v6 = [&](const char* name, const QByteArray& password, const QByteArray& plain,
                        quint32 memoryKiB, quint32 passes, quint8 lanes, int result,
                        const QByteArray& written) {
        QTest::newRow(name) << password << argon2Stream(password, plain, memoryKiB, passes, lanes)
                            << result << QString() << written;
    };
    v6("v6 the written costs", unicodePassword, good, 262144, 3, 2, DecryptOk, data);
    v6("v6 8 KiB, 1 pass, 1 lane", "pw", sized(5 * chunk + 1), 8, 1, 1, DecryptOk, bigData);
    v6("v6 128 KiB, 32 passes, 16 lanes", {}, good, 128, 32, 16, DecryptOk, data);
    v6("v6 digest differs", "pw", tampered, 8, 1, 1, failure, {});
    v6("v6 1 byte after digest", "pw", good + "x", 8, 1, 1, failure, {});
    const QByteArray small = argon2Stream("pw", good, 8, 1, 1);
    for (const auto& [name, kept] :
         QList<QPair<const char*, int>>{{"cut in the costs", 7}, {"cut in the salt", 26}}) {
        QTest::addRow("v6 %s", name) << QByteArray("pw") << small.left(kept) << -1
                                     << QStringLiteral("unexpected end of input") << QByteArray();
    }
    QTest::newRow("v6 no body") << QByteArray("pw") << small.left(27) << -1
                                << QStringLiteral("error decrypting final block") << QByteArray();

    // Cut short anywhere: in the header, in a block, by a whole block.
    const QByteArray whole = stream(5, "pw", good);
    const QList<QPair<const char*, int>> cuts{{"version byte only", 1},
                                              {"cut in the salt", 10},
                                              {"cut in the first block", 18 + 5},
                                              {"cut in the body", 18 + 16 * 3 + 7},
                                              {"last block missing", whole.size() - 16},
                                              {"last byte missing", whole.size() - 1}};
    for (const auto& [name, kept] : cuts) {
        QTest::addRow("v5 %s", name)
            << QByteArray("pw") << whole.left(kept) << -1
            << QString::fromLatin1(kept < 18 ? "unexpected end of input"
                                             : "error decrypting final block")
            << QByteArray();
    }

    // Bodies shorter than the smallest stream's 48 bytes never succeed.
    const QByteArray one = littleEndian64(1);
    QTest::newRow("v5 no body") << QByteArray("pw") << QByteArray("\x05\x01") + fixedSalt << -1
                                << QStringLiteral("error decrypting final block") << QByteArray();
    row("v5 one block, total only", 5, "pw", one, failure, {}, {});
    row("v5 one block, total and prefix", 5, "pw", one + '\x00', failure, {}, {});
    row("v5 two blocks", 5, "pw", one + '\x00' + QByteArray(22, '\x11'), failure, {}, {});
    QTest::newRow("v4 no body") << QByteArray("pw") << QByteArray("\x04\x01") + fixedSalt << failure
                                << QString() << QByteArray();
    row("v4 one block", 4, "pw", one + '\x00' + QByteArray(7, '\x11'), failure, {}, {});
    row("v4 two blocks", 4, "pw", one + '\x00' + QByteArray(23, '\x11'), failure, {}, {});

    // 8 + 1 + 7 + 32: whole blocks
    row("v4 aligned, nothing after digest", 4, "pw", record(QByteArray(1, '\0'), "1234567"),
        DecryptOk, {}, "1234567");
    row("v4 with bytes after digest", 4, unicodePassword, good, DecryptOk, {}, data);
    row("v4 digest split by a piece's end", 4, "pw", sized(65510), DecryptOk, {},
        bigData.left(65510));
    row("v4 bytes after digest in the next piece", 4, "pw", sized(65491, QByteArray(40, 'z')),
        DecryptOk, {}, bigData.left(65491));
    row("v4 five pieces and one", 4, "pw", sized(5 * chunk + 1), DecryptOk, {}, bigData);
    tampered = good;
    tampered[tampered.size() - 3] = static_cast<char>(tampered.at(tampered.size() - 3) ^ 0x80);
    row("v4 digest differs", 4, "pw", tampered, failure, {}, data);
    row("v4 negative total", 4, "pw", littleEndian64(-5) + prefix + data + digest, -1,
        "invalid header data", {});
}

void TestEncryptedStream::refusedCosts_data()
{
    QTest::addColumn<quint32>("memoryKiB");
    QTest::addColumn<quint32>("passes");
    QTest::addColumn<int>("lanes");
    QTest::newRow("memory 1 GiB and 1 KiB") << 1048577u << 1u << 1;
    QTest::newRow("memory 4 TiB") << 0xffffffffu << 1u << 1;
    QTest::newRow("memory 7 KiB, 1 lane") << 7u << 1u << 1;
    QTest::newRow("memory 127 KiB, 16 lanes") << 127u << 1u << 16;
    QTest::newRow("memory 0") << 0u << 1u << 1;
    QTest::newRow("passes 0") << 64u << 0u << 1;
    QTest::newRow("passes 33") << 64u << 33u << 1;
    QTest::newRow("passes 2^32 - 1") << 64u << 0xffffffffu << 1;
    QTest::newRow("lanes 0") << 64u << 1u << 0;
    QTest::newRow("lanes 17") << 1024u << 1u << 17;
    QTest::newRow("lanes 255") << 4096u << 1u << 255;
}

void TestEncryptedStream::refusedCosts()
{
    QFETCH(quint32, memoryKiB);
    QFETCH(quint32, passes);
    QFETCH(int, lanes);
    // A damaged file, refused on its header alone: nothing after it is read, no key derived.
    const QByteArray body = encrypt("data", "pw").mid(18);
    const QByteArray stream = "\x06\x02" + littleEndian64(memoryKiB).left(4) +
                              littleEndian64(passes).left(4) + char(lanes) + fixedSalt + body;
    Source source(stream);
    const Outcome outcome = run(false, source, 0, "pw");
    QCOMPARE(outcome.error, QStringLiteral("invalid header data"));
    QCOMPARE(source.delivered(), qint64(27));
}

void TestEncryptedStream::keptKey_data()
{
    // A key kept for a second pass is derived anew for any other salt, derivation or costs. Where
    // the file is the same, the password is replaced before the second pass: only the kept key
    // can open it then.
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QByteArray>("secondPassword");
    const QByteArray plain = record("\x02xy", "secret");
    const QByteArray otherSalt = QByteArray::fromHex("ffeeddccbbaa99887766554433221100");
    const QByteArray v5 = stream(5, "pw", plain);
    const QByteArray v6 = argon2Stream("pw", plain, 64, 1, 1);
    const QByteArray wrong = "wrong";
    QTest::newRow("same v5 file: derived once") << v5 << v5 << wrong;
    QTest::newRow("same v6 file: derived once") << v6 << v6 << wrong;
    QTest::newRow("other salt") << v5 << stream(5, "pw", plain, otherSalt) << QByteArray("pw");
    QTest::newRow("same salt, v5 then v6") << v5 << v6 << QByteArray("pw");
    QTest::newRow("same salt, other passes")
        << v6 << argon2Stream("pw", plain, 64, 2, 1) << QByteArray("pw");
    QTest::newRow("same salt, other memory")
        << v6 << argon2Stream("pw", plain, 128, 1, 1) << QByteArray("pw");
    QTest::newRow("same salt, other lanes")
        << v6 << argon2Stream("pw", plain, 64, 1, 2) << QByteArray("pw");
}

void TestEncryptedStream::keptKey()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QByteArray, secondPassword);
    QVERIFY(!first.isNull() && !second.isNull());
    SecureStringHolder password;
    TestSupport::setPassword(password, "pw");
    StreamKey key(password);
    const auto pass = [&](const QByteArray& bytes) {
        Source source(bytes);
        Sink sink;
        QDataStream in(&source);
        QDataStream out(&sink);
        return std::make_pair(decryptStream(in, out, key), sink.data());
    };
    const auto opened = std::make_pair(int(DecryptOk), QByteArray("secret"));
    QCOMPARE(pass(first), opened);
    TestSupport::setPassword(password, secondPassword);
    QCOMPARE(pass(second), opened);
}

void TestEncryptedStream::opensslStreams()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, stream);
    QFETCH(int, result);
    QFETCH(QString, error);
    QFETCH(QByteArray, written);
    const Outcome outcome = decrypt(stream, password);
    QCOMPARE(outcome.error, error);
    QCOMPARE(outcome.result, result);
    if (!written.isNull())
        QVERIFY(outcome.written == written);
    if (result != DecryptOk)
        return;
    // Every other password fails: one character more, or one other first character.
    for (const QByteArray& wrong : {password + ' ', 'x' + password.mid(1)}) {
        const Outcome other = decrypt(stream, wrong);
        QVERIFY2(other.result != DecryptOk, wrong.constData());
        QVERIFY(other.error.isEmpty() || other.error == "invalid header data" ||
                other.error == "error decrypting final block");
    }
}

void TestEncryptedStream::streamFaults_data()
{
    QTest::addColumn<bool>("encrypting");
    QTest::addColumn<int>("length");   // data bytes
    QTest::addColumn<int>("step");     // bytes per read; 0: as many as asked for
    QTest::addColumn<int>("failRead"); // where reads start to fail; <0: from the end, 0: never
    QTest::addColumn<int>("limit");    // output bytes after which writes fail; -1: never
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("error");
    const QString wrongLength = QStringLiteral("stream length parameter has wrong value");
    const QString writeError = QStringLiteral("error writing output");
    const int midThird = 2 * chunk + 1000;
    QTest::newRow("encrypt, a piece and one, a byte a read")
        << true << chunk + 1 << 1 << 0 << -1 << -1 << QString();
    QTest::newRow("encrypt, input fails in the third piece")
        << true << 5 * chunk + 1 << 0 << midThird << -1 << -1 << wrongLength;
    QTest::newRow("encrypt, output full in the third piece")
        << true << 5 * chunk + 1 << 7 << 0 << midThird << -1 << writeError;
    QTest::newRow("encrypt, output refuses everything")
        << true << chunk - 1 << 0 << 0 << 0 << -1 << writeError;
    QTest::newRow("decrypt, a piece, a byte a read")
        << false << chunk << 1 << 0 << -1 << int(DecryptOk) << QString();
    QTest::newRow("decrypt, five pieces and one, 1000 bytes a read")
        << false << 5 * chunk + 1 << 1000 << 0 << -1 << int(DecryptOk) << QString();
    QTest::newRow("decrypt, input fails in the third piece")
        << false << 5 * chunk + 1 << 0 << midThird << -1 << -1
        << QStringLiteral("error decrypting final block");
    QTest::newRow("decrypt, input fails in the last block")
        << false << chunk + 1 << 1 << -5 << -1 << -1
        << QStringLiteral("error decrypting final block");
    QTest::newRow("decrypt, output full in the third piece")
        << false << 5 * chunk + 1 << 7 << 0 << midThird << -1 << writeError;
    QTest::newRow("decrypt, output refuses everything")
        << false << chunk + 1 << 0 << 0 << 0 << -1 << writeError;
}

void TestEncryptedStream::streamFaults()
{
    // With two processors the engine hands hashing or encryption to a helper thread; on one it
    // does it on the calling thread (CTest runs this suite once more under taskset -c 0). Either
    // way the result, the message and what was written must be right.
    QFETCH(bool, encrypting);
    QFETCH(int, length);
    QFETCH(int, step);
    QFETCH(int, failRead);
    QFETCH(int, limit);
    QFETCH(int, result);
    QFETCH(QString, error);
    const QByteArray data = randomBytes(length);
    const QByteArray input = encrypting ? data : encrypt(data, "pw");
    Source source(input, step,
                  failRead > 0   ? failRead
                  : failRead < 0 ? input.size() + failRead
                                 : -1);
    const Outcome outcome = run(encrypting, source, static_cast<quint64>(length), "pw", limit);
    QCOMPARE(outcome.error, error);
    QCOMPARE(outcome.result, result);
    QCOMPARE(outcome.output, error == QLatin1String("error writing output"));
    if (!encrypting) {
        QVERIFY(data.startsWith(outcome.written));
        if (result == DecryptOk)
            QCOMPARE(outcome.written.size(), data.size());
    } else if (error.isEmpty()) {
        const Outcome back = decrypt(outcome.written, "pw");
        QCOMPARE(back.result, int(DecryptOk));
        QVERIFY(back.written == data);
    } else {
        // What got out in whole blocks is a beginning of the data.
        QVERIFY(data.startsWith(OpensslStream::open(outcome.written, "pw", false).data));
    }
}

void TestEncryptedStream::progressAndCancel_data()
{
    QTest::addColumn<bool>("encrypting");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("cancelAt"); // input bytes read when another thread cancels; -1: never
    QTest::newRow("encrypt to the end") << true << 5 * chunk + 1 << -1;
    QTest::newRow("decrypt to the end") << false << 5 * chunk + 1 << -1;
    QTest::newRow("encrypt, cancelled before the start") << true << chunk << 0;
    QTest::newRow("decrypt, cancelled before the start") << false << chunk << 0;
    QTest::newRow("encrypt, cancelled in the third piece")
        << true << 5 * chunk + 1 << 2 * chunk + 9;
    QTest::newRow("decrypt, cancelled in the third piece") // behind header and salt
        << false << 5 * chunk + 1 << 18 + 2 * chunk + 9;
}

void TestEncryptedStream::progressAndCancel()
{
    QFETCH(bool, encrypting);
    QFETCH(int, length);
    QFETCH(int, cancelAt);
    const QByteArray data = randomBytes(length);
    const QByteArray input = encrypting ? data : encrypt(data, "pw");
    StreamProgress progress;
    Source source(input);
    if (cancelAt == 0)
        progress.cancel();
    if (cancelAt > 0) {
        // The read that reaches `cancelAt` waits for another thread, which follows the
        // progress up to where that read started and cancels.
        source.pauseAt = cancelAt;
        source.atPause = [&](qint64 start) {
            std::thread canceller([&] {
                while (progress.bytesRead() != static_cast<quint64>(start))
                    std::this_thread::yield();
                progress.cancel();
            });
            canceller.join();
        };
    }
    const Outcome outcome =
        run(encrypting, source, static_cast<quint64>(length), "pw", -1, &progress);
    if (cancelAt < 0) {
        QCOMPARE(outcome.error, QString());
        QCOMPARE(progress.bytesRead(), quint64(input.size()));
        if (!encrypting)
            QVERIFY(outcome.written == data);
        else
            QVERIFY(decrypt(outcome.written, "pw").written == data);
        return;
    }
    QCOMPARE(outcome.error, QStringLiteral("cancelled"));
    QCOMPARE(outcome.result, -1);
    // It stopped at the next read: nothing more was read than the piece being filled.
    QVERIFY(progress.bytesRead() <= static_cast<quint64>(cancelAt) + chunk);
    QCOMPARE(progress.bytesRead(), quint64(source.delivered()));
    QVERIFY(source.delivered() < input.size());
    if (!encrypting)
        QVERIFY(data.startsWith(outcome.written) && outcome.written.size() < data.size());
}

QTEST_GUILESS_MAIN(TestEncryptedStream)
#include "tst_encryptedstream.moc"
