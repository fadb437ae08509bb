// The encrypted stream format, checked against the openssl command-line tool: streams built
// byte by byte with openssl must decrypt, streams we write must open with openssl, and every
// damaged or foreign stream must fail the way callers expect.

#include "EncryptedStream.h"
#include "SecureStringHolder.h"
#include "StreamOutputError.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QDataStream>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <cstring>
#include <functional>
#include <stdexcept>

namespace {

using TestSupport::openssl;

const QByteArray fixedSalt = QByteArray::fromHex("00112233445566778899aabbccddeeff");

QByteArray unicodePassword()
{
    return QString::fromUtf8("pässwörd€😀").toUtf8();
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

void setPassword(SecureStringHolder& holder, const QByteArray& password)
{
    holder.string().assign(password.constData(), static_cast<std::size_t>(password.size()));
}

QByteArray littleEndian64(qint64 value)
{
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>((static_cast<quint64>(value) >> (8 * i)) & 0xff);
    return bytes;
}

qint64 readLittleEndian64(const QByteArray& bytes)
{
    quint64 value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(i));
    return static_cast<qint64>(value);
}

int expectedStreamSize(int prefixLength, int dataLength)
{
    return 18 + 16 * ((40 + prefixLength + dataLength) / 16 + 1);
}

// --- the independent side: openssl ---

void opensslKey(const QByteArray& password, const QByteArray& salt, QByteArray& key, QByteArray& iv)
{
    const auto result = openssl({"kdf", "-binary", "-keylen", "48", "-kdfopt", "digest:SHA1",
                                 "-kdfopt", "hexpass:" + password.toHex(), "-kdfopt",
                                 "hexsalt:" + salt.toHex(), "-kdfopt", "iter:1000", "PBKDF2"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(result.out.size(), 48);
    key = result.out.left(32);
    iv = result.out.mid(32);
}

void opensslCipher(bool decrypt, bool pad, const QByteArray& key, const QByteArray& iv,
                   const QByteArray& input, QByteArray& output)
{
    QStringList arguments{"enc",
                          decrypt ? "-d" : "-e",
                          "-aes-256-cbc",
                          "-K",
                          QString::fromLatin1(key.toHex()),
                          "-iv",
                          QString::fromLatin1(iv.toHex())};
    if (!pad)
        arguments << "-nopad";
    const auto result = openssl(arguments, input);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    output = result.out;
}

void opensslSha256(const QByteArray& input, QByteArray& digest)
{
    const auto result = openssl({"dgst", "-sha256", "-binary"}, input);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(result.out.size(), 32);
    digest = result.out;
}

// A plaintext record as the format lays it out: total, prefix, data, SHA-256 of prefix+data.
void wellFormedRecord(const QByteArray& prefix, const QByteArray& data, QByteArray& record)
{
    QByteArray digest;
    opensslSha256(prefix + data, digest);
    record = littleEndian64(prefix.size() + data.size()) + prefix + data + digest;
}

// Header, salt and the record encrypted by openssl; version 4 bodies have no padding, so the
// record is filled up to whole blocks with bytes after the digest.
void opensslStream(char version, const QByteArray& password, QByteArray record, QByteArray& stream)
{
    QByteArray key, iv, body;
    opensslKey(password, fixedSalt, key, iv);
    if (version == 4) {
        while (record.size() % 16 != 0)
            record.append('\xa5');
    }
    opensslCipher(false, version != 4, key, iv, record, body);
    stream = QByteArray(1, version) + '\x01' + fixedSalt + body;
}

struct Record
{
    qint64 total = 0;
    QByteArray prefix;
    QByteArray data;
    QByteArray digest;
    QByteArray rest;
};

// Opens a version-5 stream with openssl and splits the record into its fields.
void opensslOpen(const QByteArray& stream, const QByteArray& password, Record& record)
{
    QVERIFY(stream.size() >= 18);
    QByteArray key, iv, plain;
    opensslKey(password, stream.mid(2, 16), key, iv);
    opensslCipher(true, true, key, iv, stream.mid(18), plain);
    QVERIFY(plain.size() >= 9);
    record.total = readLittleEndian64(plain.left(8));
    const int prefixLength = static_cast<unsigned char>(plain.at(8)) + 1;
    QVERIFY(record.total >= prefixLength && 8 + record.total <= plain.size());
    record.prefix = plain.mid(8, prefixLength);
    record.data = plain.mid(8 + prefixLength, static_cast<int>(record.total) - prefixLength);
    record.digest = plain.mid(8 + static_cast<int>(record.total), 32);
    record.rest = plain.mid(8 + static_cast<int>(record.total) + 32);
}

// --- our side ---

// Writes the stream into `stream`; whatever was written before a throw stays there.
void encryptInto(const QByteArray& data, const QByteArray& password, quint64 length,
                 QByteArray& stream)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    QByteArray source = data;
    QBuffer input(&source);
    input.open(QIODevice::ReadOnly);
    stream.clear();
    QBuffer output(&stream);
    output.open(QIODevice::WriteOnly);
    QDataStream in(&input);
    QDataStream out(&output);
    out.setByteOrder(QDataStream::LittleEndian);
    encryptStream(in, length, out, holder);
}

QByteArray encrypt(const QByteArray& data, const QByteArray& password)
{
    QByteArray stream;
    encryptInto(data, password, static_cast<quint64>(data.size()), stream);
    return stream;
}

int decrypt(QIODevice& input, const QByteArray& password, QByteArray& plain)
{
    SecureStringHolder holder;
    setPassword(holder, password);
    plain.clear();
    QBuffer output(&plain);
    output.open(QIODevice::WriteOnly);
    QDataStream in(&input);
    in.setByteOrder(QDataStream::LittleEndian);
    QDataStream out(&output);
    return decryptStream(in, out, holder);
}

int decrypt(const QByteArray& stream, const QByteArray& password, QByteArray& plain)
{
    QByteArray copy = stream;
    QBuffer input(&copy);
    input.open(QIODevice::ReadOnly);
    return decrypt(input, password, plain);
}

// The message of the std::runtime_error that `call` throws, or an empty string.
QString errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::runtime_error& error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

// A device that hands out at most `step` bytes per read, like a pipe.
class TricklingDevice : public QIODevice
{
public:
    TricklingDevice(const QByteArray& bytes, int bytesPerRead) : data(bytes), step(bytesPerRead) {}
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return data.size() - position + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* out, qint64 maxSize) override
    {
        const qint64 count = qMin<qint64>(qMin<qint64>(maxSize, step), data.size() - position);
        memcpy(out, data.constData() + position, static_cast<size_t>(count));
        position += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data;
    int step;
    qint64 position = 0;
};

// A device that hands out or takes `limit` bytes and then fails, like a disk that is full or a
// file that cannot be read any further.
class FailingDevice : public QIODevice
{
public:
    FailingDevice(const QByteArray& bytes, qint64 failAfter) : data(bytes), limit(failAfter) {}
    bool isSequential() const override { return true; }
    const QByteArray& taken() const { return data; }

protected:
    qint64 readData(char* out, qint64 maxSize) override
    {
        const qint64 count = qMin(qMin(maxSize, limit - position), data.size() - position);
        if (count <= 0)
            return position < data.size() ? -1 : 0;
        memcpy(out, data.constData() + position, static_cast<size_t>(count));
        position += count;
        return count;
    }
    qint64 writeData(const char* in, qint64 size) override
    {
        const qint64 count = qMin(size, limit - position);
        if (count <= 0)
            return -1;
        data.append(in, static_cast<int>(count));
        position += count;
        return count;
    }

private:
    QByteArray data;
    qint64 limit;
    qint64 position = 0;
};

} // namespace

class TestEncryptedStream : public QObject
{
    Q_OBJECT

private slots:
    void emptyDataSizes();
    void roundTrip_data();
    void roundTrip();
    void twoWritesDiffer();
    void writtenStreamOpensWithOpenssl_data();
    void writtenStreamOpensWithOpenssl();
    void prefixLengthVaries();
    void wrongLength_data();
    void wrongLength();
    void versionBytes_data();
    void versionBytes();
    void opensslRecords_data();
    void opensslRecords();
    void shortBodiesNeverSucceed_data();
    void shortBodiesNeverSucceed();
    void truncatedStream_data();
    void truncatedStream();
    void wrongPasswordNeverSucceeds_data();
    void wrongPasswordNeverSucceeds();
    void unwritableOutput();
    void tricklingInput_data();
    void tricklingInput();
    void failingDevice_data();
    void failingDevice();
};

void TestEncryptedStream::emptyDataSizes()
{
    // K is random, so the empty stream comes in three sizes; write until each was seen.
    QSet<int> sizes;
    for (int i = 0; i < 400 && sizes.size() < 3; ++i) {
        const QByteArray stream = encrypt({}, "pw");
        QVERIFY2(stream.size() == 66 || stream.size() == 82 || stream.size() == 98,
                 qPrintable(QString::number(stream.size())));
        sizes.insert(stream.size());
        QByteArray plain = "stale";
        QCOMPARE(decrypt(stream, "pw", plain), int(DecryptOk));
        QVERIFY(plain.isEmpty());
    }
    QCOMPARE(sizes.size(), 3);
}

void TestEncryptedStream::roundTrip_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("length");
    const QList<QPair<const char*, QByteArray>> passwords{
        {"empty password", QByteArray()},
        {"ascii", QByteArray("correct horse battery staple")},
        {"utf-8", unicodePassword()}};
    for (const auto& password : passwords) {
        for (int length : {0, 1, 15, 16, 4056, 4095, 4096, 4097, 8192 + 13, 100000})
            QTest::addRow("%s, %d bytes", password.first, length) << password.second << length;
    }
}

void TestEncryptedStream::roundTrip()
{
    QFETCH(QByteArray, password);
    QFETCH(int, length);
    const QByteArray data = randomBytes(length);
    const QByteArray stream = encrypt(data, password);
    QCOMPARE(stream.at(0), '\x05');
    QCOMPARE(stream.at(1), '\x01');
    QVERIFY(stream.size() >= expectedStreamSize(1, length));
    QVERIFY(stream.size() <= expectedStreamSize(32, length));
    QCOMPARE((stream.size() - 18) % 16, 0);
    QByteArray plain;
    QCOMPARE(decrypt(stream, password, plain), int(DecryptOk));
    QCOMPARE(plain.size(), data.size());
    QVERIFY(plain == data);
}

void TestEncryptedStream::twoWritesDiffer()
{
    const QByteArray data = "the same secret twice";
    const QByteArray first = encrypt(data, "pw");
    const QByteArray second = encrypt(data, "pw");
    QVERIFY(first.mid(2, 16) != second.mid(2, 16));
    QVERIFY(first.mid(18) != second.mid(18));
    Record a, b;
    opensslOpen(first, "pw", a);
    opensslOpen(second, "pw", b);
    if (QTest::currentTestFailed())
        return;
    // Two one-byte prefixes (1 in 1024) are both just the length byte 0.
    if (a.prefix.size() > 1 || b.prefix.size() > 1)
        QVERIFY(a.prefix != b.prefix);
    QCOMPARE(a.data, data);
    QCOMPARE(b.data, data);
}

void TestEncryptedStream::writtenStreamOpensWithOpenssl_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("length");
    QTest::newRow("empty password, empty data") << QByteArray() << 0;
    QTest::newRow("ascii, 1 byte") << QByteArray("secret") << 1;
    QTest::newRow("ascii, 33 bytes") << QByteArray("secret") << 33;
    QTest::newRow("utf-8, 4096 bytes") << unicodePassword() << 4096;
    QTest::newRow("utf-8, 5000 bytes") << unicodePassword() << 5000;
}

void TestEncryptedStream::writtenStreamOpensWithOpenssl()
{
    QFETCH(QByteArray, password);
    QFETCH(int, length);
    const QByteArray data = randomBytes(length);
    const QByteArray stream = encrypt(data, password);
    QCOMPARE(stream.left(2), QByteArray("\x05\x01"));
    Record record;
    opensslOpen(stream, password, record);
    if (QTest::currentTestFailed())
        return;
    const int prefixLength = record.prefix.size();
    QVERIFY(static_cast<unsigned char>(record.prefix.at(0)) <= 31);
    QCOMPARE(record.total, qint64(length + prefixLength));
    QVERIFY(record.data == data);
    QByteArray digest;
    opensslSha256(record.prefix + data, digest);
    QCOMPARE(record.digest.toHex(), digest.toHex());
    QVERIFY(record.rest.isEmpty());
    QCOMPARE(stream.size(), expectedStreamSize(prefixLength, length));
}

void TestEncryptedStream::prefixLengthVaries()
{
    QSet<int> lengths;
    for (int i = 0; i < 8; ++i) {
        Record record;
        opensslOpen(encrypt("x", "pw"), "pw", record);
        if (QTest::currentTestFailed())
            return;
        const int prefixLength = static_cast<unsigned char>(record.prefix.at(0)) + 1;
        QVERIFY(prefixLength >= 1 && prefixLength <= 32);
        QCOMPARE(record.total, qint64(1 + prefixLength));
        lengths.insert(prefixLength);
    }
    QVERIFY(lengths.size() > 1);
}

void TestEncryptedStream::wrongLength_data()
{
    QTest::addColumn<int>("delivered");
    QTest::addColumn<int>("claimed");
    // Data bytes encrypted before the refusal: all of a short input, and of a long one only the
    // reads that still fitted the announced length.
    QTest::addColumn<int>("accepted");
    QTest::newRow("100 bytes, length 101") << 100 << 101 << 100;
    QTest::newRow("100 bytes, length 99") << 100 << 99 << 0;
    QTest::newRow("4096 bytes, length 4097") << 4096 << 4097 << 4096;
    QTest::newRow("4097 bytes, length 4096") << 4097 << 4096 << 4096;
    QTest::newRow("16 bytes, length 0") << 16 << 0 << 0;
}

void TestEncryptedStream::wrongLength()
{
    QFETCH(int, delivered);
    QFETCH(int, claimed);
    QFETCH(int, accepted);
    const QByteArray data = randomBytes(delivered);
    QByteArray partial;
    QCOMPARE(errorOf([&] { encryptInto(data, "pw", static_cast<quint64>(claimed), partial); }),
             QStringLiteral("stream length parameter has wrong value"));

    // Header, salt, and the whole blocks of total, prefix and data were written; no digest.
    QCOMPARE(partial.left(2), QByteArray("\x05\x01"));
    QVERIFY(partial.size() >= 18);
    QCOMPARE((partial.size() - 18) % 16, 0);
    if (partial.size() == 18) {
        // A refusal before the first whole block (a short prefix, no data) leaves no body.
        QCOMPARE(accepted, 0);
        return;
    }
    QByteArray key, iv, plain;
    opensslKey("pw", partial.mid(2, 16), key, iv);
    opensslCipher(true, false, key, iv, partial.mid(18), plain);
    if (QTest::currentTestFailed())
        return;
    const int prefixLength = static_cast<unsigned char>(plain.at(8)) + 1;
    QVERIFY(prefixLength <= 32);
    QCOMPARE(readLittleEndian64(plain.left(8)), qint64(claimed + prefixLength));
    QCOMPARE(plain.size(), (8 + prefixLength + accepted) / 16 * 16);
    QVERIFY(plain.mid(8 + prefixLength) == data.left(plain.size() - 8 - prefixLength));
}

void TestEncryptedStream::versionBytes_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("result");
    QTest::newRow("empty input") << QByteArray() << int(DecryptVersionTooOld);
    QTest::newRow("version 0") << QByteArray("\x00\x01", 2) << int(DecryptVersionTooOld);
    QTest::newRow("version 3") << QByteArray("\x03\x01") << int(DecryptVersionTooOld);
    QTest::newRow("version 6") << QByteArray("\x06\x01") << int(DecryptVersionTooNew);
    QTest::newRow("version 0x7f") << QByteArray("\x7f\x01") << int(DecryptVersionTooNew);
    QTest::newRow("version 0x80 (negative as signed)")
        << QByteArray("\x80\x01") << int(DecryptVersionTooNew);
    QTest::newRow("version 0xff") << QByteArray("\xff\x01") << int(DecryptVersionTooNew);
}

void TestEncryptedStream::versionBytes()
{
    QFETCH(QByteArray, header);
    QFETCH(int, result);
    // A valid body behind the foreign header must not even be looked at.
    QByteArray stream = encrypt("data", "pw");
    stream = header.isEmpty() ? QByteArray() : header + stream.mid(2);
    QBuffer input(&stream);
    input.open(QIODevice::ReadOnly);
    QByteArray plain;
    QCOMPARE(decrypt(input, "pw", plain), result);
    QVERIFY(plain.isEmpty());
    QVERIFY(input.pos() <= 2);
}

void TestEncryptedStream::opensslRecords_data()
{
    QTest::addColumn<char>("version");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QByteArray>("written"); // what must reach the output; null: not checked

    const QByteArray data = "account: alice / password: hunter2";
    const QByteArray prefix = QByteArray("\x04") + "abcd";
    QByteArray good, digest;
    wellFormedRecord(prefix, data, good);
    opensslSha256(prefix + data, digest);
    const QByteArray total = littleEndian64(prefix.size() + data.size());

    QByteArray record;
    const QByteArray bigData = randomBytes(5000);
    const QByteArray fullPrefix = QByteArray("\x1f") + randomBytes(31);

    auto row = [](const char* name, char version, const QByteArray& password,
                  const QByteArray& body, int result, const QString& error,
                  const QByteArray& written) {
        QTest::newRow(name) << version << password << body << result << error << written;
    };
    const int failure = DecryptIntegrityFailure;

    wellFormedRecord(QByteArray(1, '\0'), {}, record);
    row("v5 empty data, K = 1", 5, "pw", record, DecryptOk, {}, QByteArray(""));
    wellFormedRecord(fullPrefix, "hello", record);
    row("v5 K = 32", 5, unicodePassword(), record, DecryptOk, {}, "hello");
    wellFormedRecord("\x02xy", bigData, record);
    row("v5 5000 bytes, empty password", 5, {}, record, DecryptOk, {}, bigData);
    row("v5 utf-8 password", 5, unicodePassword(), good, DecryptOk, {}, data);

    QByteArray tampered = good;
    tampered[tampered.size() - 1] = static_cast<char>(tampered.at(tampered.size() - 1) ^ 1);
    row("v5 digest differs", 5, "pw", tampered, failure, {}, data);
    tampered = good;
    tampered[20] = static_cast<char>(tampered.at(20) ^ 0x40);
    row("v5 data differs", 5, "pw", tampered, failure, {}, {});
    QByteArray withTotal;
    opensslSha256(total + prefix + data, withTotal);
    row("v5 digest over total too", 5, "pw", total + prefix + data + withTotal, failure, {}, {});
    row("v5 31 digest bytes", 5, "pw", good.left(good.size() - 1), failure, {}, {});
    row("v5 1 byte after digest", 5, "pw", good + "x", failure, {}, {});
    row("v5 40 bytes after digest", 5, "pw", good + QByteArray(40, 'x'), failure, {}, {});
    row("v5 total one too large", 5, "pw",
        littleEndian64(prefix.size() + data.size() + 1) + prefix + data + digest, failure, {}, {});
    row("v5 total one too small", 5, "pw",
        littleEndian64(prefix.size() + data.size() - 1) + prefix + data + digest, failure, {}, {});
    row("v5 total far beyond the data", 5, "pw",
        littleEndian64(Q_INT64_C(1) << 40) + prefix + data + digest, failure, {}, {});
    row("v5 negative total", 5, "pw", littleEndian64(-1) + prefix + data + digest, -1,
        "invalid header data", {});

    wellFormedRecord(QByteArray(1, '\0'), "1234567", record); // 8 + 1 + 7 + 32: whole blocks
    row("v4 aligned, nothing after digest", 4, "pw", record, DecryptOk, {}, "1234567");
    row("v4 with bytes after digest", 4, unicodePassword(), good, DecryptOk, {}, data);
    row("v4 with 40 bytes after digest", 4, "pw", good + QByteArray(40, 'z'), DecryptOk, {}, data);
    wellFormedRecord("\x02xy", bigData, record);
    row("v4 5000 bytes", 4, "pw", record, DecryptOk, {}, bigData);
    tampered = good;
    tampered[tampered.size() - 3] = static_cast<char>(tampered.at(tampered.size() - 3) ^ 0x80);
    row("v4 digest differs", 4, "pw", tampered, failure, {}, data);
    row("v4 negative total", 4, "pw", littleEndian64(-5) + prefix + data + digest, -1,
        "invalid header data", {});
}

void TestEncryptedStream::opensslRecords()
{
    QFETCH(char, version);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, record);
    QFETCH(int, result);
    QFETCH(QString, error);
    QFETCH(QByteArray, written);
    QByteArray stream;
    opensslStream(version, password, record, stream);
    if (QTest::currentTestFailed())
        return;
    QByteArray plain;
    int actual = -1;
    QCOMPARE(errorOf([&] { actual = decrypt(stream, password, plain); }), error);
    QCOMPARE(actual, result);
    if (!written.isNull())
        QVERIFY(plain == written);
}

void TestEncryptedStream::shortBodiesNeverSucceed_data()
{
    QTest::addColumn<char>("version");
    QTest::addColumn<QByteArray>("record");
    const QByteArray total = littleEndian64(1);
    QTest::newRow("v5 no body") << char(5) << QByteArray();
    QTest::newRow("v5 one block, total only") << char(5) << total;
    QTest::newRow("v5 one block, total and prefix") << char(5) << total + '\x00';
    QTest::newRow("v5 two blocks") << char(5) << total + '\x00' + QByteArray(22, '\x11');
    QTest::newRow("v4 no body") << char(4) << QByteArray();
    QTest::newRow("v4 one block") << char(4) << total + '\x00' + QByteArray(7, '\x11');
    QTest::newRow("v4 two blocks") << char(4) << total + '\x00' + QByteArray(23, '\x11');
}

void TestEncryptedStream::shortBodiesNeverSucceed()
{
    QFETCH(char, version);
    QFETCH(QByteArray, record);
    QByteArray stream;
    if (record.isEmpty())
        stream = QByteArray(1, version) + '\x01' + fixedSalt;
    else
        opensslStream(version, "pw", record, stream);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(stream.size() < 18 + 48);
    QByteArray plain;
    int result = -1;
    errorOf([&] { result = decrypt(stream, "pw", plain); });
    QVERIFY(result != DecryptOk);
}

void TestEncryptedStream::truncatedStream_data()
{
    QTest::addColumn<int>("cut"); // bytes kept; negative: counted from the end
    QTest::addColumn<QString>("error");
    const QString endOfInput = QStringLiteral("unexpected end of input");
    QTest::newRow("version byte only") << 1 << endOfInput;
    QTest::newRow("header only") << 2 << endOfInput;
    QTest::newRow("inside the salt") << 10 << endOfInput;
    QTest::newRow("one salt byte short") << 17 << endOfInput;
    QTest::newRow("salt, no body") << 18 << QString();
    QTest::newRow("inside the first block") << 18 + 5 << QString();
    QTest::newRow("one block") << 18 + 16 << QString();
    QTest::newRow("inside the body") << 18 + 16 * 3 + 7 << QString();
    QTest::newRow("last block missing") << -16 << QString();
    QTest::newRow("last byte missing") << -1 << QString();
}

void TestEncryptedStream::truncatedStream()
{
    QFETCH(int, cut);
    QFETCH(QString, error);
    const QByteArray stream = encrypt(randomBytes(200), "pw");
    const QByteArray truncated = stream.left(cut >= 0 ? cut : stream.size() + cut);
    QByteArray plain;
    int result = -1;
    const QString actual = errorOf([&] { result = decrypt(truncated, "pw", plain); });
    QVERIFY(result != DecryptOk);
    if (!error.isEmpty())
        QCOMPARE(actual, error);
    else
        QVERIFY2(!actual.isEmpty() || result == DecryptIntegrityFailure, qPrintable(actual));
}

void TestEncryptedStream::wrongPasswordNeverSucceeds_data()
{
    QTest::addColumn<char>("version");
    QTest::newRow("version 5") << char(5);
    QTest::newRow("version 4") << char(4);
}

void TestEncryptedStream::wrongPasswordNeverSucceeds()
{
    QFETCH(char, version);
    QByteArray record;
    wellFormedRecord("\x03"
                     "abc",
                     "the data", record);
    QByteArray stream;
    opensslStream(version, "right", record, stream);
    if (QTest::currentTestFailed())
        return;
    for (const QByteArray& wrong : {QByteArray("wrong"), QByteArray(), QByteArray("Right"),
                                    QByteArray("right "), unicodePassword()}) {
        QByteArray plain;
        int result = -1;
        const QString error = errorOf([&] { result = decrypt(stream, wrong, plain); });
        QVERIFY2(result != DecryptOk, wrong.constData());
        QVERIFY(error.isEmpty() || error == "invalid header data" ||
                error == "error decrypting final block");
    }
}

void TestEncryptedStream::unwritableOutput()
{
    SecureStringHolder holder;
    QByteArray data = "some data", stream = encrypt(data, {});
    QByteArray sink;
    QBuffer readOnly(&sink);
    readOnly.open(QIODevice::ReadOnly);
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): ReadOnly device");
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): ReadOnly device");
    {
        QBuffer input(&data);
        input.open(QIODevice::ReadOnly);
        QDataStream in(&input), out(&readOnly);
        QCOMPARE(errorOf([&] { encryptStream(in, 9, out, holder); }),
                 QStringLiteral("error writing output"));
    }
    {
        QBuffer input(&stream);
        input.open(QIODevice::ReadOnly);
        QDataStream in(&input), out(&readOnly);
        QCOMPARE(errorOf([&] { decryptStream(in, out, holder); }),
                 QStringLiteral("error writing output"));
    }
}

void TestEncryptedStream::tricklingInput_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("1 byte per read") << 1;
    QTest::newRow("7 bytes per read") << 7;
    QTest::newRow("1000 bytes per read") << 1000;
}

void TestEncryptedStream::tricklingInput()
{
    // Reads may come back short (a pipe does that); record fields then straddle the reads.
    QFETCH(int, step);
    const QByteArray data = randomBytes(5000);
    TricklingDevice device(encrypt(data, "pw"), step);
    device.open(QIODevice::ReadOnly);
    QByteArray plain;
    int result = -1;
    QCOMPARE(errorOf([&] { result = decrypt(device, "pw", plain); }), QString());
    QCOMPARE(result, int(DecryptOk));
    QVERIFY(plain == data);
}

void TestEncryptedStream::failingDevice_data()
{
    QTest::addColumn<bool>("encrypting");
    QTest::addColumn<bool>("output"); // the output fails, or else the input
    QTest::addColumn<double>("at");   // where, as a share of what passes through that side
    for (bool encrypting : {true, false}) {
        for (bool output : {true, false}) {
            const char* name = encrypting ? "encrypt" : "decrypt";
            const char* side = output ? "output" : "input";
            for (double at : {0.0, 0.001, 0.5, 0.9999}) {
                QTest::addRow("%s, %s fails at %.4g", name, side, at) << encrypting << output << at;
            }
        }
    }
}

void TestEncryptedStream::failingDevice()
{
    // A failed write is a StreamOutputError whatever byte it falls on; a failed read never
    // passes for a complete input.
    QFETCH(bool, encrypting);
    QFETCH(bool, output);
    QFETCH(double, at);
    const QByteArray data = randomBytes(20000);
    const QByteArray stream = encrypt(data, "pw");
    const QByteArray& in = encrypting ? data : stream;
    const QByteArray& out = encrypting ? stream : data;
    // The stream written now may be up to 32 bytes shorter than `stream`: count from the
    // shortest one possible.
    const qint64 span =
        encrypting && output ? expectedStreamSize(1, data.size()) : (output ? out : in).size();
    const qint64 limit = static_cast<qint64>(at * span);
    FailingDevice source(in, output ? in.size() : limit);
    FailingDevice sink({}, output ? limit : out.size() + 64);
    source.open(QIODevice::ReadOnly);
    sink.open(QIODevice::WriteOnly);
    QDataStream inStream(&source);
    QDataStream outStream(&sink);
    SecureStringHolder holder;
    setPassword(holder, "pw");
    QString error;
    bool outputError = false;
    int result = -1;
    try {
        if (encrypting)
            encryptStream(inStream, static_cast<quint64>(data.size()), outStream, holder);
        else
            result = decryptStream(inStream, outStream, holder);
    } catch (const StreamOutputError& thrown) {
        outputError = true;
        error = QString::fromUtf8(thrown.what());
    } catch (const std::runtime_error& thrown) {
        error = QString::fromUtf8(thrown.what());
    }
    QVERIFY(sink.taken().size() <= (output ? limit : out.size()));
    if (output) {
        QVERIFY2(outputError, qPrintable(error));
        QCOMPARE(error, QStringLiteral("error writing output"));
    } else if (encrypting) {
        QCOMPARE(error, QStringLiteral("stream length parameter has wrong value"));
    } else {
        QVERIFY2(result != DecryptOk, qPrintable(error));
    }
}

QTEST_GUILESS_MAIN(TestEncryptedStream)
#include "tst_encryptedstream.moc"
